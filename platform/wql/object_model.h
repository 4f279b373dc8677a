// The object model the WQL engine runs over: classes with a key property,
// association classes with their reference properties, and instances with
// typed properties (the seam's Variant). Backends fill a model; the engine
// (statement.h) answers the statements the system issues; model_com.h puts
// the seam's COM interfaces on top.
//
// References between objects are object paths as the platform writes them,
// `\\HOST\root\cimv2:Class.Key="value"` with every backslash and double quote
// of the value escaped, held as VT_BSTR texts in the association objects.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/wmi.h"

namespace zel::wql {

using platform::Variant;

// One instance: its class and its properties in the order they were set.
// Property names compare without regard to case, as WQL names do.
class Object {
 public:
  explicit Object(std::string className) : className_(std::move(className)) {}

  const std::string& ClassName() const { return className_; }
  // Sets or replaces a property.
  void Set(std::string_view name, Variant value);
  // Removes a property; false when it was not there.
  bool Remove(std::string_view name);
  const Variant* Find(std::string_view name) const;
  const std::vector<std::pair<std::string, Variant>>& Properties() const { return properties_; }

 private:
  std::string className_;
  std::vector<std::pair<std::string, Variant>> properties_;
};

struct ObjectPath;

struct ClassInfo {
  std::string name;
  std::string key;                      // the key property of object paths
  std::vector<std::string> references;  // non-empty for association classes
  bool IsAssociation() const { return !references.empty(); }
};

class ObjectModel {
 public:
  explicit ObjectModel(std::string computerName = "LOCALHOST")
      : computerName_(std::move(computerName)) {}
  ObjectModel(const ObjectModel&) = delete;
  ObjectModel& operator=(const ObjectModel&) = delete;

  const std::string& ComputerName() const { return computerName_; }
  void SetComputerName(std::string name) { computerName_ = std::move(name); }

  // Declares a class (a class can exist without instances). Declaring an
  // existing class again updates its key.
  void DeclareClass(std::string_view name, std::string_view keyProperty = "DeviceID");
  // Declares an association class with the names of its reference properties.
  void DeclareAssociation(std::string_view name, std::vector<std::string> references);
  const ClassInfo* FindClass(std::string_view name) const;
  std::vector<const ClassInfo*> AssociationClasses() const;

  // Appends an instance (its class is declared with key "DeviceID" when
  // unknown) and returns it; instances keep their order of addition.
  Object& Add(Object object);

  // Classes whose instances are made when first asked for: `fill` adds the
  // instances of `classNames` the first time a lookup (InstancesOf,
  // FindByKey, InstancesWithText, Resolve, AssociationsOf for association
  // classes) needs one of them, and never again. A backend uses it so that a
  // query reads only the machine's sources of the classes it names. Declare
  // the classes before (a fill that declares a new class would move the class
  // list under a reader); `fill` may add instances of other classes too.
  void FillOnDemand(std::vector<std::string> classNames, std::function<void(ObjectModel&)> fill);
  // Removes the instances for which `match` is true; returns how many.
  template <typename Pred>
  size_t RemoveIf(Pred match) {
    Invalidate();
    size_t before = objects_.size();
    std::erase_if(objects_, [&](const std::unique_ptr<Object>& o) { return match(*o); });
    return before - objects_.size();
  }

  std::vector<const Object*> InstancesOf(std::string_view className) const;
  std::vector<Object*> InstancesOf(std::string_view className);
  // The instance of `className` whose key property equals `keyValue`
  // (compared without case); null when there is none. Lookups go through an
  // index built on first use; every change made through the model's own
  // non-const members drops it, so build the model completely (including
  // changes to objects it handed out) before looking objects up by key.
  const Object* FindByKey(std::string_view className, std::string_view keyValue) const;
  // The instances of `className` whose `property` reads as `text` (its
  // ComparableText, compared without case), in order of addition, each with
  // its position among all instances. Indexed on first use like FindByKey.
  std::vector<std::pair<size_t, const Object*>> InstancesWithText(std::string_view className,
                                                                  std::string_view property,
                                                                  std::string_view text) const;
  // The association instances with a reference that resolves to `target`,
  // in order of addition; indexed on first use like FindByKey.
  std::vector<const Object*> AssociationsOf(const Object& target) const;

  // The object path of an instance, or of a class and key value.
  std::string PathOf(const Object& object) const;
  std::string PathOf(std::string_view className, std::string_view keyValue) const;

  // The object a path names: the key compared unescaped first, then as
  // written (an identifier inserted into a path without escaping).
  const Object* Resolve(const ObjectPath& path) const;
  // The object a reference property (an object path text) names.
  const Object* ResolveReference(const Variant& reference) const;

 private:
  void Invalidate();
  // Runs the pending fill that makes the instances of `className`; with an
  // empty name, every pending fill that makes association instances.
  void MakeInstances(std::string_view className) const;

  struct PendingFill {
    std::vector<std::string> classNames;
    std::function<void(ObjectModel&)> fill;
  };

  std::string computerName_;
  std::vector<ClassInfo> classes_;
  std::vector<std::unique_ptr<Object>> objects_;
  // Guards the indexes below; recursive because building the association
  // index resolves paths by key.
  mutable std::recursive_mutex indexMutex_;
  // Lower-cased "class\0key value" to the first such instance.
  mutable bool indexed_ = false;
  mutable std::unordered_map<std::string, const Object*> index_;
  // Lower-cased class name to its instances in order of addition, built on
  // first use like the key index, so a query reads only its own class.
  mutable bool classIndexed_ = false;
  mutable std::unordered_map<std::string, std::vector<const Object*>> byClass_;
  // Lower-cased "class\0property" to lower-cased property text to the
  // instances (with their positions) that have it; one entry per pair asked.
  using TextIndex = std::unordered_map<std::string, std::vector<std::pair<size_t, const Object*>>>;
  mutable std::unordered_map<std::string, TextIndex> byText_;
  // Referenced object to the association instances that reference it.
  mutable bool associationsIndexed_ = false;
  mutable std::unordered_map<const Object*, std::vector<const Object*>> associations_;
  // Fills not run yet; guarded by indexMutex_ (a fill runs under it, so two
  // readers never fill the same classes twice).
  mutable std::vector<PendingFill> pending_;
  mutable size_t fillsRun_ = 0;
};

// WQL string escaping: "\" becomes "\\" and a double quote "\"".
std::string EscapeWql(std::string_view text);
// The reverse: "\\", "\"" and "\'" lose their backslash; any other backslash
// stays as it is, so an identifier that was never escaped comes through.
std::string UnescapeWql(std::string_view text);

// "Class.Key='value'" or "Class.Key=\"value\"", optionally after a
// "\\HOST\namespace:" prefix. `value` is unescaped, `raw` as written.
struct ObjectPath {
  std::string className;
  std::string keyName;
  std::string value;
  std::string raw;
};
std::optional<ObjectPath> ParseObjectPath(std::string_view text);

// The text of a property for comparisons: a VT_BSTR as it is, an integer
// type in decimal; nothing for other types.
std::optional<std::string> ComparableText(const Variant& value);

}  // namespace zel::wql
