// Alerts of the framework stand-in: situation events pushed to Alertmanager
// (its v2 API, POST <url>/api/v2/alerts).
//
// Each raised situation becomes one alert: labels `alertname` (the
// situation), `table`, `subnode` (the row's ORIGINNODE) and the row's other
// text attributes in lower case (they identify the row); annotations carry
// its integer attributes (its values). `startsAt` is the time it was raised,
// `endsAt` the time it was cleared (RFC 3339, UTC). A raised alert is sent
// again every 60 seconds while it stays raised; a situation deleted while
// raised is sent as cleared.
//
// Sending never blocks the agent: alerts wait in a bounded queue (when it is
// full the oldest is dropped and counted), a sender thread posts them in
// batches, and a batch that no Alertmanager accepted is retried with
// exponential backoff. A failure streak of one URL writes one trace record,
// and its recovery another. Counters: zep_alerts_sent_total,
// zep_alerts_dropped_total, zep_alert_send_failures_total; gauge
// zep_alerts_queued.
#ifndef AXO_ALERTS_ALERTS_H_
#define AXO_ALERTS_ALERTS_H_

#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "axo/base/status.h"
#include "axo/requests/request.h"

namespace axo::alerts {

// Checks one Alertmanager URL: http:// or https://, a host (an IPv6 host in
// brackets), an optional port, an optional path; no user, query or
// fragment. Returns ok, or kBadRequest with the reason.
Status ValidUrl(const std::string& url);

// Replaces the URLs the running sender posts to (also before it starts).
// Returns kBadRequest, keeping the old list, when any is malformed. An empty
// list stops sending; raised alerts are still tracked, and are sent as soon
// as a list is set again. Thread-safe.
Status SetUrls(const std::vector<std::string>& urls);

// Starts the framework's sender on `urls` (--alertmanager-url): a thread
// that once a second offers it the new events of the event log, resolves
// the alerts of deleted situations and sends, reporting each round to the
// liveness registry as "alert sender". Returns kBadRequest for a malformed
// URL, kFailed when the thread cannot be created. Stop waits for the thread.
Status Start(const std::vector<std::string>& urls);
void Stop();

// The sender's state and its single pass, without a thread: the service
// feeds it events and calls Pass every second; tests call them directly
// with a time of their choice. Thread-safety: every member may be called
// from any thread; Pass holds no lock while it posts.
class Sender {
 public:
  struct Limits {
    size_t capacity = 10000;  // most alerts queued
    size_t batch = 64;        // most alerts in one post
    int resendSeconds = 60;
    int firstBackoffSeconds = 1;
    int maxBackoffSeconds = 60;
    int timeoutSeconds = 5;  // connect, read and write timeout of a post
  };
  struct Stats {
    uint64_t sent = 0, dropped = 0, failures = 0;
    size_t queued = 0;  // alerts waiting
    size_t raised = 0;  // situations known to be raised
  };

  Sender() : Sender(Limits()) {}
  explicit Sender(const Limits& limits) : limits_(limits) {}
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  // Requires: every URL passed ValidUrl.
  void SetUrls(const std::vector<std::string>& urls);
  // Queues the alert of `event` and remembers (raised) or forgets it.
  void Offer(const Event& event);
  // Sends as cleared, at `now`, every raised alert whose situation is not
  // in `live` (it was deleted).
  void ResolveMissing(const std::set<std::string>& live, time_t now);
  // Queues the raised alerts due to be sent again, then, unless backing off,
  // posts the queue batch by batch to every URL until it is empty or a batch
  // fails everywhere.
  void Pass(time_t now);
  Stats stats() const;

 private:
  struct Alert {
    std::string situation;
    nlohmann::json body;  // as posted
    uint64_t seq = 0;     // order of queueing
  };
  struct Raised {
    Alert alert;
    time_t nextSend = 0;
  };

  void Enqueue(Alert alert);  // requires mu_; drops it without URLs
  void PopFront();            // requires mu_ and a queued alert
  void Cleared(const std::string& situation, const Event* event, time_t when);  // requires mu_
  // Posts `body` to `url`; false with `*reason` when it was not accepted.
  // Called with no lock held.
  bool Post(const std::string& url, const std::string& body, std::string* reason);

  const Limits limits_;
  mutable std::mutex mu_;
  std::vector<std::string> urls_;
  std::deque<Alert> queue_;
  std::map<std::string, int> queuedCount_;  // situation -> alerts in queue_
  std::map<std::string, Raised> raised_;    // by situation
  std::map<std::string, int> streak_;       // url -> failed posts in a row
  uint64_t nextSeq_ = 1;
  time_t retryAt_ = 0;
  int backoff_ = 0;
  Stats stats_;
};

}  // namespace axo::alerts

#endif  // AXO_ALERTS_ALERTS_H_
