// The standard services: each one turns the process's options into a
// started part, and a reload into the part's new settings.
#include "axo/services/standard.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "axo/alerts/alerts.h"
#include "axo/api/http_api.h"
#include "axo/base/clock.h"
#include "axo/base/every_second.h"
#include "axo/base/osb1.h"
#include "axo/base/wait.h"
#include "axo/history/history.h"
#include "axo/http/web_config.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/process/service.h"
#include "axo/requests/request.h"

namespace axo::services {
namespace {

// The operator API on --listen, with the bearer token of --token-file and
// the web configuration of --web-config. An address that cannot be bound,
// a token file that cannot be read (or is readable by others) or a web
// configuration refused is a start-up failure. A reload (SIGHUP) reads the
// web configuration again when it changed; its path needs a restart.
class OperatorApiService : public Service {
 public:
  const char* name() const override { return "operator API"; }

  // --check-web-config: every check a start would make of the file.
  Status Check(const AXO_Options& options) override {
    std::shared_ptr<const http::ActiveWebConfig> loaded;
    return options.checkWebConfig.empty() ? Status::OK()
                                          : http::LoadWebConfig(options.checkWebConfig, &loaded);
  }

  Status Start(const AXO_Options& options) override {
    if (!options.listen) return Status::OK();
    api::OperatorApiOptions api;
    api.host = options.listenHost;
    api.port = options.listenPort;
    api.webConfig = options.webConfig;
    api.allowedHosts = options.allowedHosts;
    api.allowUnauthenticatedChanges = options.allowUnauthenticatedChanges;
    api.maxConnections = static_cast<size_t>(options.apiMaxConnections);
    api.maxConnectionsPerAddress = static_cast<size_t>(options.apiConnectionsPerAddress);
    api.maxRequestsPerAddress = options.apiRequestsPerAddress;
    api.maxPasswordChecks = options.maxPasswordChecks;
    api.minAnswerRate = static_cast<size_t>(options.answerMinRateKiB) * 1024;
    api.maxRowAnswers = options.rowAnswers;
    if (!options.tokenFile.empty()) {
      if (Status s = AXO_ReadTokenFile(options.tokenFile, &api.token); !s.ok()) return s;
    }
    std::lock_guard<std::mutex> lock(mu_);
    if (api_ != nullptr) return Status::OK();
    auto started = std::make_unique<api::OperatorApi>();
    if (Status s = started->Start(api); !s.ok()) return s;
    api_ = std::move(started);
    if (!hooked_) {  // a reload reads the web configuration again if it changed
      hooked_ = true;
      AXO_OnReload({}, [this](const AXO_Options&, const AXO_Options&) {
        std::lock_guard<std::mutex> lock(mu_);
        if (api_ != nullptr) api_->RefreshWebConfig();
      });
    }
    return Status::OK();
  }

  void Stop() override {
    std::unique_ptr<api::OperatorApi> api;
    {
      std::lock_guard<std::mutex> lock(mu_);
      api = std::move(api_);
    }
    api.reset();  // stops and joins, without the lock
  }

 private:
  std::mutex mu_;
  std::unique_ptr<api::OperatorApi> api_;  // guarded by mu_
  bool hooked_ = false;                    // guarded by mu_
};

// The history collector into --history-db; the interval may be reloaded.
class HistoryService : public Service {
 public:
  const char* name() const override { return "history collector"; }

  Status Start(const AXO_Options& options) override {
    if (options.historyDb.empty()) return Status::OK();
    HistoryOptions h;
    h.path = options.historyDb;
    h.intervalSeconds = options.historyInterval;
    ApplyDeclaredHistory(options.historyTables, &h);
    h.retainDays = options.historyRetainDays;
    h.writeTimeoutSeconds = options.historyWriteTimeout;
    std::string tablesText;
    for (const std::string& t : h.tables) tablesText += (tablesText.empty() ? "" : ",") + t;
    return StartHistory(h, tablesText);
  }

  std::vector<std::string> ReloadableOptions() const override { return {"history-interval"}; }
  void Reload(const AXO_Options&, const AXO_Options& after) override {
    SetHistoryInterval(after.historyInterval);
  }

  void Stop() override { StopHistory(); }
};

// The alert sender to every --alertmanager-url; the list may be reloaded.
class AlertService : public Service {
 public:
  const char* name() const override { return "alert sender"; }

  Status Start(const AXO_Options& options) override {
    return alerts::Start(options.alertmanagerUrls);
  }

  std::vector<std::string> ReloadableOptions() const override { return {"alertmanager-url"}; }
  void Reload(const AXO_Options&, const AXO_Options& after) override {
    alerts::SetUrls(after.alertmanagerUrls);  // checked when the file was parsed
  }

  void Stop() override { alerts::Stop(); }
};

// The situation timer: creates the situations kept in --situations-file,
// then samples the situations of sampled tables every second. --max-situations is read at each
// creation: a reload applies it with nothing to do here.
class SituationTimerService : public Service {
 public:
  const char* name() const override { return "situation timer"; }

  Status Start(const AXO_Options& options) override {
    if (!options.situationsFile.empty()) {
      if (Status s = LoadSituations(options.situationsFile); !s.ok()) return s;
    }
    return timer_.Start(
        [] {
          OSB1_WaitLimit limit(axo_internal::kDataWaitMillis);  // busy: tried next interval
          pollSituations(AXO_Now());
        },
        "timer");
  }

  std::vector<std::string> ReloadableOptions() const override { return {"max-situations"}; }

  void Stop() override { timer_.Stop(); }

 private:
  axo_internal::EverySecond timer_;
};

// The expiry of the bounded metric families: a sweep a second, off the
// scrape path; a reload re-applies their labels, cap and TTL.
class MetricsSeriesService : public Service {
 public:
  const char* name() const override { return "metrics series expiry"; }

  Status Start(const AXO_Options&) override {
    return sweeper_.Start(
        [] {
          OSB1_WaitLimit limit(kSweepWaitMillis);  // busy: the rest waits for the next round
          metrics::SweepBounded(AXO_Now());
        },
        "metrics series expiry");
  }

  std::vector<std::string> ReloadableOptions() const override {
    return {"metrics-labels", "metrics-max-series", "metrics-series-ttl"};
  }
  void Reload(const AXO_Options&, const AXO_Options& after) override {
    metrics::ConfigureBounded(AXO_BoundedSettings(after));  // checked when the file was parsed
  }

  void Stop() override { sweeper_.Stop(); }

 private:
  static constexpr int kSweepWaitMillis = 200;
  axo_internal::EverySecond sweeper_;
};

}  // namespace

void RegisterStandard() {
  // Never destroyed: the process may stop them at exit.
  static Service* const kServices[] = {new OperatorApiService, new HistoryService, new AlertService,
                                       new SituationTimerService, new MetricsSeriesService};
  for (Service* s : kServices) AXO_AddService(s);
}

}  // namespace axo::services
