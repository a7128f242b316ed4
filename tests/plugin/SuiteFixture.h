#pragma once

// The suite around a plug-in test, set up one way for every fixture that
// runs plug-in code against it: a suite home of the test's own (empty
// central records), the base folder "<home>/base" in the registry, an empty
// event journal, no stored-procedure failures or calls; optionally the Priam
// stand-in as the Priam command, this process acting as a suite client, and
// every Priam request answered by a script.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/app/App_ExecuteSP.h"
#include "platform/log/EventJournal.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "support/ClusterTestSupport.h"
#include "support/SimTestSupport.h"

namespace plugintest {

class SuiteTest : public ::testing::Test {
 protected:
  // The suite home and its registry; with `priamStandIn` the plug-in starts
  // the Priam stand-in built beside the tests.
  void SetUpSuite(bool priamStandIn) {
    CClientContext::SetSuiteHome(home_.path());
    App_ExecuteSP::ClearFailures();
    App_ExecuteSP::ClearCalls();
    CEventJournal::Instance().Clear();
    CRegistry::Instance().Set("Base", "dBASEHOME", Base());
    if (priamStandIn) {
      CRegistry::Instance().Set("Cassandra", "sPriamCommand",
                                std::string(TQ_BINARY_DIR) + "/sim/priam-standin");
    }
  }

  // This process acts as the suite client `name` (`id`), its job results
  // folder "<home>/<name>/JobResults".
  void ActAsClient(const std::string& name, uint64_t id) {
    SClientIdentity identity;
    identity.clientName = name;
    identity.clientId = id;
    identity.jobResultsDirectory = home_.Sub(name + "/JobResults");
    scope_.reset(new CClientContextScope(identity));
  }

  // From the first call on, every Priam request is answered from this
  // script instead of a Priam process.
  TqCassandra::ScriptedPriam& UseScriptedPriam() {
    if (!scripted_) {
      priamScript_ = std::make_shared<TqCassandra::ScriptedPriam>();
      scripted_.reset(new TqCassandra::ScopedPriamTransportFactory(priamScript_->Factory()));
    }
    return *priamScript_;
  }

  // Undoes the above and stops what the test left running; a fixture calls
  // it after it released its plug-in objects. Idempotent.
  void TearDownSuite() {
    scripted_.reset();
    scope_.reset();
    simtest::KillLeftChildren();
    CRegistry::Instance().Remove("Cassandra", "sPriamCommand");
    CRegistry::Instance().Remove("Base", "dBASEHOME");
    App_ExecuteSP::ClearFailures();
    App_ExecuteSP::ClearCalls();
    CEventJournal::Instance().Clear();
    CClientDirectory::Instance().Clear();
    CClientContext::SetSuiteHome("");
  }

  std::string Base() const { return home_.Sub("base"); }

  simtest::TempDir home_;
  std::unique_ptr<CClientContextScope> scope_;
  std::shared_ptr<TqCassandra::ScriptedPriam> priamScript_;
  std::unique_ptr<TqCassandra::ScopedPriamTransportFactory> scripted_;
};

}  // namespace plugintest
