// The WQL statements the system issues, and nothing more:
//
//   SELECT * FROM <class>
//   SELECT * FROM <class> WHERE <property> = <number | 'text' | "text">
//   ASSOCIATORS OF {<object path>}
//   ASSOCIATORS OF {<object path>} WHERE ResultClass = <class> [AssocClass = <class>]
//
// Keywords, class and property names compare without case; texts compare
// without case too, after WQL unescaping ("\\" for a backslash). Blanks
// around the parts, including a trailing blank after an empty condition,
// are allowed. Any other statement is WBEM_E_INVALID_QUERY.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wql/object_model.h"

namespace zel::wql {

struct Statement {
  enum class Kind { Select, Associators } kind = Kind::Select;
  // SELECT
  std::string className;
  bool hasCondition = false;
  std::string property;
  std::string value;     // unescaped text, or the number's digits
  std::string rawValue;  // as written between the quotes
  bool valueIsNumber = false;
  // ASSOCIATORS OF
  std::string sourcePath;  // the text between the braces
  std::string resultClass;
  std::string assocClass;
};

// The statement, or nothing when it is not one of the forms above.
std::optional<Statement> ParseStatement(std::string_view text);

// The class names a statement involves (FROM class; the source, result and
// association classes of ASSOCIATORS OF), for matching injected failures.
std::vector<std::string> ClassesOf(const Statement& statement);

struct QueryResult {
  platform::HRESULT status = platform::S_OK;  // what ExecQuery answers
  // What the enumerator reports after the objects, as the platform reports
  // errors of a semi-synchronous query from Next (a source object that does
  // not exist); S_OK for the normal end.
  platform::HRESULT deferred = platform::S_OK;
  std::vector<const Object*> objects;
};

// Runs a statement over the model. Unknown FROM classes give
// WBEM_E_INVALID_CLASS; syntax errors WBEM_E_INVALID_QUERY.
QueryResult Execute(const ObjectModel& model, std::string_view statement);
QueryResult Execute(const ObjectModel& model, const Statement& statement);

}  // namespace zel::wql
