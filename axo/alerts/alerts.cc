// Situation events to Alertmanager: the sender and its service thread.
//
// Lock order: the sender's mutex is a leaf (only the trace facility and the
// metrics are used under it); the service thread calls the request API with
// no lock of this module held.
#include "axo/alerts/alerts.h"

#include <httplib.h>

#include <algorithm>

#include "axo/base/clock.h"
#include "axo/base/every_second.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"
#include "axo/process/liveness.h"

TRK1_UNIT(alerts_unit, "AXOALRT");

namespace axo::alerts {
namespace {

using nlohmann::json;

AXO_COUNTER(sentTotal, "zep_alerts_sent_total", "Alerts accepted by an Alertmanager.");
AXO_COUNTER(droppedTotal, "zep_alerts_dropped_total",
            "Alerts dropped, oldest first, because the queue was full.");
AXO_COUNTER(failuresTotal, "zep_alert_send_failures_total",
            "Posts of alerts that an Alertmanager did not accept.");
AXO_GAUGE(queuedGauge, "zep_alerts_queued", "Alerts waiting to be sent.");

constexpr const char kApiPath[] = "/api/v2/alerts";

using axo_internal::Lower;
using axo_internal::Rfc3339;

// The alert body of a raised `event`: text attributes identify the row
// (labels), integer attributes are its values (annotations).
json AlertBody(const Event& event) {
  json labels = {{"alertname", event.situation}};
  if (!event.table.empty()) labels["table"] = event.table;
  json annotations = json::object();
  for (const auto& [attribute, value] : event.row) {
    if (attribute == "SITNAME") continue;  // the alertname already
    if (!value.isText) {
      annotations[Lower(attribute)] = std::to_string(value.number);
    } else if (!value.text.empty()) {  // an empty label is no label
      labels[attribute == "ORIGINNODE" ? "subnode" : Lower(attribute)] = value.text;
    }
  }
  return {{"labels", labels}, {"annotations", annotations}, {"startsAt", Rfc3339(event.time)}};
}

}  // namespace

constexpr char kUrlName[] = "an Alertmanager URL";

Status ValidUrl(const std::string& url) { return axo_internal::CheckHttpUrl(url, kUrlName); }

// --- the sender -----------------------------------------------------------------

void Sender::SetUrls(const std::vector<std::string>& urls) {
  std::lock_guard<std::mutex> guard(mu_);
  urls_ = urls;
  streak_.clear();
  retryAt_ = 0;
  backoff_ = 0;
  // New receivers learn every raised alert at the next pass.
  for (auto& [name, raised] : raised_) raised.nextSend = 0;
}

void Sender::Enqueue(Alert alert) {
  if (urls_.empty()) return;  // nowhere to go; raised ones are sent once there is
  if (queue_.size() >= limits_.capacity) {
    PopFront();
    ++stats_.dropped;
    droppedTotal.Inc();
  }
  alert.seq = nextSeq_++;
  ++queuedCount_[alert.situation];
  queue_.push_back(std::move(alert));
  queuedGauge.Set(static_cast<double>(queue_.size()));
}

void Sender::PopFront() {
  if (--queuedCount_[queue_.front().situation] == 0) queuedCount_.erase(queue_.front().situation);
  queue_.pop_front();
}

void Sender::Cleared(const std::string& situation, const Event* event, time_t when) {
  auto it = raised_.find(situation);
  Alert alert;
  if (it != raised_.end()) {
    alert = std::move(it->second.alert);
    raised_.erase(it);
  } else if (event != nullptr) {
    alert = Alert{situation, AlertBody(*event)};  // raised before the sender knew
  } else {
    return;
  }
  alert.body["endsAt"] = Rfc3339(when);
  Enqueue(std::move(alert));
}

void Sender::Offer(const Event& event) {
  std::lock_guard<std::mutex> guard(mu_);
  if (!event.raised) {
    Cleared(event.situation, &event, event.time);
    return;
  }
  Raised& r = raised_[event.situation];
  r.alert = Alert{event.situation, AlertBody(event)};
  r.nextSend = event.time + limits_.resendSeconds;
  Enqueue(r.alert);
}

void Sender::ResolveMissing(const std::set<std::string>& live, time_t now) {
  std::lock_guard<std::mutex> guard(mu_);
  std::vector<std::string> gone;
  for (const auto& [name, raised] : raised_) {
    if (live.count(name) == 0) gone.push_back(name);
  }
  for (const std::string& name : gone) Cleared(name, nullptr, now);
}

void Sender::Pass(time_t now) {
  std::vector<std::string> urls;
  for (;;) {
    json batch = json::array();
    uint64_t last = 0;
    {
      std::lock_guard<std::mutex> guard(mu_);
      if (urls_.empty() || now < retryAt_) return;
      for (auto& [name, raised] : raised_) {
        if (raised.nextSend > now || queuedCount_.count(name) != 0) continue;
        raised.nextSend = now + limits_.resendSeconds;
        Enqueue(raised.alert);
      }
      for (size_t i = 0; i < queue_.size() && i < limits_.batch; ++i) {
        batch.push_back(queue_[i].body);
        last = queue_[i].seq;
      }
      urls = urls_;
    }
    if (batch.empty()) return;
    // Text that is not UTF-8 is replaced rather than refused.
    const std::string body = batch.dump(-1, ' ', false, json::error_handler_t::replace);
    std::vector<std::string> reasons(urls.size());
    bool accepted = false;
    for (size_t i = 0; i < urls.size(); ++i) accepted |= Post(urls[i], body, &reasons[i]);

    std::lock_guard<std::mutex> guard(mu_);
    for (size_t i = 0; i < urls.size(); ++i) {
      int& streak = streak_[urls[i]];
      if (!reasons[i].empty()) {
        ++stats_.failures;
        failuresTotal.Inc();
        if (streak++ == 0) {
          TRK1_Printf(&alerts_unit, __LINE__, "AXO0301W Alerts cannot be sent to %s: %s",
                      urls[i].c_str(), reasons[i].c_str());
        }
      } else if (streak > 0) {
        TRK1_Printf(&alerts_unit, __LINE__,
                    "AXO0302I Alerts are sent to %s again, after %d failed posts", urls[i].c_str(),
                    streak);
        streak = 0;
      }
    }
    if (!accepted) {
      backoff_ = backoff_ == 0 ? limits_.firstBackoffSeconds
                               : std::min(backoff_ * 2, limits_.maxBackoffSeconds);
      retryAt_ = now + backoff_;
      return;
    }
    backoff_ = 0;
    retryAt_ = 0;
    // Entries dropped meanwhile are gone already; the rest of the batch leaves.
    while (!queue_.empty() && queue_.front().seq <= last) {
      PopFront();
      ++stats_.sent;
      sentTotal.Inc();
    }
    queuedGauge.Set(static_cast<double>(queue_.size()));
  }
}

bool Sender::Post(const std::string& url, const std::string& body, std::string* reason) {
  std::string base, path;
  if (Status s = axo_internal::CheckHttpUrl(url, kUrlName, &base, &path); !s.ok()) {
    *reason = s.message();
    return false;
  }
  httplib::Client client(base);
  client.set_connection_timeout(limits_.timeoutSeconds);
  client.set_read_timeout(limits_.timeoutSeconds);
  client.set_write_timeout(limits_.timeoutSeconds);
  httplib::Result result = client.Post(path + kApiPath, body, "application/json");
  if (!result) {
    *reason = httplib::to_string(result.error());
  } else if (result->status / 100 != 2) {
    *reason = "HTTP " + std::to_string(result->status) + " " + result->body.substr(0, 200);
  } else {
    reason->clear();
  }
  return reason->empty();
}

Sender::Stats Sender::stats() const {
  std::lock_guard<std::mutex> guard(mu_);
  Stats s = stats_;
  s.queued = queue_.size();
  s.raised = raised_.size();
  return s;
}

// --- the service ------------------------------------------------------------------

namespace {

// The name under which the sender reports its rounds (one a second) to the
// liveness registry (GET /healthz).
constexpr char kLivenessName[] = "alert sender";

struct Service {
  axo_internal::EverySecond thread;
  Sender sender;
};

Service& Svc() {
  static Service* s = new Service;  // never destroyed: used at exit
  return *s;
}

// One round of the thread: new events, deleted situations, then sending.
void Round(Sender& sender, int64_t* lastEvent) {
  for (const Event& e : eventsSince(*lastEvent)) {
    sender.Offer(e);
    *lastEvent = e.id;
  }
  if (sender.stats().raised > 0) {
    std::set<std::string> live;
    for (const SituationInfo& s : listSituations()) live.insert(s.name);
    sender.ResolveMissing(live, AXO_Now());
  }
  sender.Pass(AXO_Now());
}

}  // namespace

Status SetUrls(const std::vector<std::string>& urls) {
  for (const std::string& url : urls) {
    if (Status s = ValidUrl(url); !s.ok()) return s;
  }
  Svc().sender.SetUrls(urls);
  TRK1_Trace(&alerts_unit, TRK1_DETAIL, "Alerts go to %zu Alertmanager URLs", urls.size());
  return Status::OK();
}

Status Start(const std::vector<std::string>& urls) {
  if (Status s = SetUrls(urls); !s.ok()) return s;
  Service& s = Svc();
  Status started = s.thread.Start(
      [&s, lastEvent = int64_t{0}]() mutable {
        Round(s.sender, &lastEvent);
        liveness::Completed(kLivenessName, 1);
      },
      "alert sender");
  if (started.ok()) liveness::Watch(kLivenessName, 1);
  return started;
}

void Stop() {
  Svc().thread.Stop();
  liveness::Forget(kLivenessName);
}

}  // namespace axo::alerts
