#include "platform/wql/model_com.h"

#include <map>
#include <mutex>
#include <thread>

#include "platform/text.h"
#include "platform/wql/statement.h"

namespace zel::wql {

using namespace zel::platform;

struct ModelCom::State {
  std::shared_ptr<const ObjectModel> model;
  ModelProvider provider;  // when set, every connection takes a fresh model from it
  FaultPlan faults;

  mutable std::mutex mutex;
  struct Apartment {
    int count = 0;
    uint32_t mode = 0;
  };
  std::map<std::thread::id, Apartment> apartments;
  Usage usage;
  std::vector<std::string> statements;
  // How many calls each fault has seen (call faults in plan order, then queries).
  int coInitializeSeen = 0, createLocatorSeen = 0, connectServerSeen = 0, proxyBlanketSeen = 0;
  std::vector<int> querySeen;

  // Counts a call against a fault; true when this call fails. Lock held.
  static bool Hits(int skip, int times, int* seen) {
    int n = ++*seen;
    if (n <= skip) return false;
    return times < 0 || n - skip <= times;
  }
  bool CallFails(const CallFault& f, int* seen) {
    if (f.error == 0) return false;
    return Hits(f.skip, f.times, seen);
  }
  bool ThreadInitialized() const {
    auto it = apartments.find(std::this_thread::get_id());
    return it != apartments.end() && it->second.count > 0;
  }
};

namespace {

using State = ModelCom::State;

class ClassObject final : public WbemClassObject {
 public:
  ClassObject(std::shared_ptr<const ObjectModel> model, const Object* object)
      : model_(std::move(model)), object_(object) {}

  HRESULT Get(const std::string& name, Variant* value) const override {
    *value = Variant{};
    if (EqualsNoCaseAscii(name, "__CLASS")) {
      *value = Variant::Bstr(object_->ClassName());
      return S_OK;
    }
    if (EqualsNoCaseAscii(name, "__PATH")) {
      *value = Variant::Bstr(model_->PathOf(*object_));
      return S_OK;
    }
    if (EqualsNoCaseAscii(name, "__RELPATH")) {
      std::string path = model_->PathOf(*object_);
      *value = Variant::Bstr(path.substr(path.find(':') + 1));
      return S_OK;
    }
    const Variant* v = object_->Find(name);
    if (!v) return WBEM_E_NOT_FOUND;
    *value = *v;
    return S_OK;
  }

 private:
  std::shared_ptr<const ObjectModel> model_;
  const Object* object_;
};

class Enumerator final : public EnumWbemClassObject {
 public:
  Enumerator(std::shared_ptr<const ObjectModel> model, QueryResult result, bool timesOut)
      : model_(std::move(model)), result_(std::move(result)), timesOut_(timesOut) {}

  HRESULT Next(int32_t timeoutMs, std::shared_ptr<WbemClassObject>* object,
               uint32_t* returned) override {
    if (object) object->reset();
    if (returned) *returned = 0;
    if (!object || !returned) return E_INVALIDARG;
    if (timesOut_ && timeoutMs != WBEM_INFINITE) return WBEM_S_TIMEDOUT;
    if (next_ < result_.objects.size()) {
      *object = std::make_shared<ClassObject>(model_, result_.objects[next_++]);
      *returned = 1;
      return WBEM_S_NO_ERROR;
    }
    if (FAILED(result_.deferred)) return result_.deferred;
    return WBEM_S_FALSE;
  }

 private:
  std::shared_ptr<const ObjectModel> model_;
  QueryResult result_;
  bool timesOut_;
  size_t next_ = 0;
};

class Services final : public WbemServices {
 public:
  Services(std::shared_ptr<State> state, std::shared_ptr<const ObjectModel> model)
      : state_(std::move(state)), model_(std::move(model)) {}

  HRESULT ExecQuery(const std::string& language, const std::string& query, int32_t /*flags*/,
                    std::shared_ptr<EnumWbemClassObject>* result) override {
    if (!result) return E_INVALIDARG;
    result->reset();
    bool timesOut = false;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->statements.push_back(query);
    }
    if (!EqualsNoCaseAscii(language, "WQL")) return WBEM_E_INVALID_QUERY_TYPE;
    std::optional<Statement> statement = ParseStatement(query);
    if (!statement) return WBEM_E_INVALID_QUERY;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      std::vector<std::string> classes = ClassesOf(*statement);
      const auto& faults = state_->faults.queries;
      for (size_t i = 0; i < faults.size(); ++i) {
        const QueryFault& f = faults[i];
        bool classMatches = f.className.empty();
        for (const std::string& c : classes)
          if (EqualsNoCaseAscii(c, f.className)) classMatches = true;
        if (!classMatches) continue;
        if (!f.contains.empty() && query.find(f.contains) == std::string::npos) continue;
        if (!State::Hits(f.skip, f.times, &state_->querySeen[i])) continue;
        if (f.effect == QueryFault::Effect::Fail) return f.error;
        if (f.effect == QueryFault::Effect::NoEnumerator) return WBEM_S_NO_ERROR;
        timesOut = true;
      }
    }
    QueryResult r = Execute(*model_, *statement);
    if (FAILED(r.status)) return r.status;
    *result = std::make_shared<Enumerator>(model_, std::move(r), timesOut);
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<State> state_;
  std::shared_ptr<const ObjectModel> model_;  // the connection's snapshot
};

class Locator final : public WbemLocator {
 public:
  explicit Locator(std::shared_ptr<State> state) : state_(std::move(state)) {}

  HRESULT ConnectServer(const std::string& networkResource,
                        std::shared_ptr<WbemServices>* services) override {
    if (!services) return E_INVALIDARG;
    services->reset();
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (state_->CallFails(state_->faults.connectServer, &state_->connectServerSeen))
        return state_->faults.connectServer.error;
    }
    // The local namespace, with or without the local machine in front.
    std::string ns = ToLowerAscii(networkResource);
    if (ns != "root\\cimv2" && ns != "\\\\.\\root\\cimv2") return WBEM_E_INVALID_NAMESPACE;
    std::shared_ptr<const ObjectModel> model;
    if (state_->provider) {
      model = state_->provider();
      if (!model) return WBEM_E_FAILED;
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->model = model;
    } else {
      model = state_->model;
    }
    *services = std::make_shared<Services>(state_, std::move(model));
    return WBEM_S_NO_ERROR;
  }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace

ModelCom::ModelCom(std::shared_ptr<const ObjectModel> model, FaultPlan faults)
    : state_(std::make_shared<State>()) {
  state_->model = std::move(model);
  state_->faults = std::move(faults);
  state_->querySeen.assign(state_->faults.queries.size(), 0);
}

ModelCom::ModelCom(ModelProvider provider, FaultPlan faults) : state_(std::make_shared<State>()) {
  state_->provider = std::move(provider);
  state_->model = std::make_shared<ObjectModel>();
  state_->faults = std::move(faults);
  state_->querySeen.assign(state_->faults.queries.size(), 0);
}

ModelCom::~ModelCom() = default;

HRESULT ModelCom::CoInitializeEx(uint32_t coInit) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  ++state_->usage.initializeCalls;
  if (state_->CallFails(state_->faults.coInitialize, &state_->coInitializeSeen))
    return state_->faults.coInitialize.error;
  State::Apartment& a = state_->apartments[std::this_thread::get_id()];
  if (a.count > 0 && a.mode != coInit) return RPC_E_CHANGED_MODE;
  a.mode = coInit;
  ++a.count;
  ++state_->usage.openApartments;
  return a.count == 1 ? S_OK : S_FALSE;
}

void ModelCom::CoUninitialize() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  ++state_->usage.uninitializeCalls;
  auto it = state_->apartments.find(std::this_thread::get_id());
  if (it == state_->apartments.end() || it->second.count == 0) {
    ++state_->usage.unbalancedUninitializeCalls;
    return;
  }
  --it->second.count;
  --state_->usage.openApartments;
}

HRESULT ModelCom::CreateWbemLocator(std::shared_ptr<WbemLocator>* locator) {
  if (!locator) return E_INVALIDARG;
  locator->reset();
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->ThreadInitialized()) return CO_E_NOTINITIALIZED;
  if (state_->CallFails(state_->faults.createLocator, &state_->createLocatorSeen))
    return state_->faults.createLocator.error;
  *locator = std::make_shared<Locator>(state_);
  return S_OK;
}

HRESULT ModelCom::CoSetProxyBlanket(WbemServices& services, uint32_t, uint32_t, uint32_t,
                                    uint32_t) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->CallFails(state_->faults.proxyBlanket, &state_->proxyBlanketSeen))
    return state_->faults.proxyBlanket.error;
  if (!dynamic_cast<Services*>(&services)) return E_INVALIDARG;
  return S_OK;
}

const ObjectModel& ModelCom::Model() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return *state_->model;
}

ModelCom::Usage ModelCom::ComUsage() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->usage;
}

std::vector<std::string> ModelCom::Statements() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->statements;
}

}  // namespace zel::wql
