// The seam's COM and WMI interfaces over an object model: CoInitializeEx and
// CoUninitialize kept per thread, the locator, ConnectServer on the local
// "ROOT\CIMV2" namespace, the proxy blanket, ExecQuery through the WQL engine,
// and enumerators and class objects over the results. A backend builds the
// model and, where it wants to show a failure, a fault plan.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/wmi.h"
#include "platform/wql/object_model.h"

namespace zel::wql {

// Codes of the COM runtime that the seam's errors.h does not need elsewhere.
inline constexpr platform::HRESULT CO_E_NOTINITIALIZED = static_cast<platform::HRESULT>(0x800401F0u);
inline constexpr platform::HRESULT WBEM_E_INVALID_QUERY_TYPE =
    static_cast<platform::HRESULT>(0x80041018u);

// A failure of one call: `error` (a failing HRESULT; 0 means no failure)
// after `skip` calls have passed, for `times` calls (-1: every one after).
struct CallFault {
  platform::HRESULT error = 0;
  int skip = 0;
  int times = -1;
};

// A failure of ExecQuery for the statements that involve `className` (empty:
// any class) and contain `contains` (case-sensitive; empty: any statement).
struct QueryFault {
  enum class Effect {
    Fail,          // ExecQuery returns `error`
    NoEnumerator,  // ExecQuery succeeds but hands back no enumerator
    Timeout,       // a bounded Next times out (WBEM_S_TIMEDOUT, no object)
  };
  std::string className;
  std::string contains;
  Effect effect = Effect::Fail;
  platform::HRESULT error = platform::WBEM_E_FAILED;
  int skip = 0;
  int times = -1;
};

struct FaultPlan {
  CallFault coInitialize;
  CallFault createLocator;
  CallFault connectServer;
  CallFault proxyBlanket;
  std::vector<QueryFault> queries;
};

// Builds the model of one connection (a machine whose devices come and go).
using ModelProvider = std::function<std::shared_ptr<const ObjectModel>()>;

class ModelCom final : public platform::Com {
 public:
  explicit ModelCom(std::shared_ptr<const ObjectModel> model, FaultPlan faults = {});
  // A model taken afresh from `provider` at every ConnectServer, so each
  // connection sees the machine as it is then; a null model fails the connection.
  explicit ModelCom(ModelProvider provider, FaultPlan faults = {});
  ~ModelCom() override;

  platform::HRESULT CoInitializeEx(uint32_t coInit) override;
  void CoUninitialize() override;
  platform::HRESULT CreateWbemLocator(std::shared_ptr<platform::WbemLocator>* locator) override;
  platform::HRESULT CoSetProxyBlanket(platform::WbemServices& services, uint32_t authnService,
                                      uint32_t authzService, uint32_t authnLevel,
                                      uint32_t impLevel) override;

  const ObjectModel& Model() const;

  // For tests: how COM was used.
  struct Usage {
    int initializeCalls = 0;
    int uninitializeCalls = 0;
    int unbalancedUninitializeCalls = 0;  // CoUninitialize on a thread with nothing open
    int openApartments = 0;               // CoInitializeEx calls not yet balanced, all threads
  };
  Usage ComUsage() const;
  // Every statement ExecQuery received, in order.
  std::vector<std::string> Statements() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace zel::wql
