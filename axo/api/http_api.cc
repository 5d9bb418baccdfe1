// The operator API's listener: its lifecycle, the bearer token and the
// count of answered requests. The routes are routes.cc's table.
#include "axo/api/http_api.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cctype>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "axo/api/access.h"
#include "axo/api/http_answer.h"
#include "axo/api/routes.h"
#include "axo/base/osb1.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/base/wait.h"
#include "axo/history/history.h"
#include "axo/http/basic_auth.h"
#include "axo/http/http_server.h"
#include "axo/http/tls.h"
#include "axo/http/web_config.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/process/liveness.h"
#include "axo/requests/request.h"
#include "axo/tables/catalog.h"

TRK1_UNIT(axohttp_unit, "AXOHTTP");

namespace axo::api {

namespace {

// Counts every answered request by route (the path's pattern, never the
// client or a free-form path: bounded cardinality) and status.
void CountRequest(const httplib::Request& req, const httplib::Response& res) {
  AXO_COUNTER_FAMILY(requests, "zep_api_requests_total",
                     "Operator API requests answered, by route and status.",
                     {"method", "route", "status"});
  const std::string route = RouteLabel(req.path);
  const char* method = "other";
  for (const char* m : {"GET", "POST", "DELETE", "PUT", "HEAD"}) {
    if (req.method == m) method = m;
  }
  requests.counter({method, route, std::to_string(res.status)}).Inc();
}

// True when `host` is a loopback address (127.0.0.0/8, ::1) or "localhost".
bool IsLoopback(const std::string& host) {
  in_addr v4;
  in6_addr v6;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return host == "localhost";
}

// Every answer says nosniff, the dashboard's files included: a browser
// must not take JSON, CSV or metrics for a page or a script.
void NoSniff(httplib::Response& res) {
  if (!res.has_header("X-Content-Type-Options"))
    res.set_header("X-Content-Type-Options", "nosniff");
}

httplib::Server::HandlerResponse DefaultError(const httplib::Request&, httplib::Response& res) {
  NoSniff(res);
  if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
  const char* text = res.status >= 500   ? "internal error"
                     : res.status == 404 ? "no such resource"
                     : res.status == 413 ? "request body too large"
                     : res.status == 405 ? "method not allowed"
                                         : "bad request";
  Fail(res, res.status, text);
  return httplib::Server::HandlerResponse::Handled;
}

// A handler that threw: 500, and the reason in the trace only.
void InternalError(const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
  std::string what = "unknown exception";
  try {
    if (ep) std::rethrow_exception(ep);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  TRK1_Printf(&axohttp_unit, __LINE__, "AXO0106E %s %s failed: %s", req.method.c_str(),
              req.path.c_str(), what.c_str());
  Fail(res, 500, "internal error");
}

// httplib's server for what it does well: parsing a request, routing it and
// writing the answer. It never sees a socket: the front end owns them and
// hands it complete requests.
class ApiServer : public httplib::Server {
 public:
  // Serves the one request `stream` holds (see http::FrontEnd::Serve); the
  // handlers find the connection's TLS session, if any, in `req.ssl`.
  bool Serve(httplib::Stream& stream, SSL* ssl, bool close_connection, bool* connection_closed) {
    bool closed = false;
    bool http10 = false;
    // The front end has answered "100 Continue" already, when it was asked.
    const bool ok =
        process_request(stream, close_connection, closed, [ssl, &http10](httplib::Request& req) {
          req.headers.erase("Expect");
          req.ssl = ssl;
          http10 = req.version == "HTTP/1.0";
        });
    // An answer to HTTP/1.0 may end with the connection (a streamed one
    // has no length), even when the client asked to keep it.
    *connection_closed = closed || http10;
    return ok;
  }
  // The library takes an invalid listening socket for a server shutting
  // down, and then ends the answers it streams: it holds the front end's
  // socket while that serves (and never uses it).
  void SetListener(int fd) { svr_sock_ = fd; }
};

}  // namespace

struct OperatorApi::Impl {
  OperatorApiOptions options;
  AccessPolicy policy;
  http::WebConfigWatch webConfig;
  std::unique_ptr<ApiServer> server;
  http::FrontEnd frontEnd;
  bool running = false;
  int port = 0;

  // The admission of a request (axo/api/access.h), with the web
  // configuration's headers and nosniff on `res`: true when it may go on.
  // Run on the head of a request with a body, and on every whole request.
  bool Admit(const httplib::Request& req, httplib::Response& res) {
    const std::shared_ptr<const http::ActiveWebConfig> web = webConfig.Current();
    for (const auto& [name, value] : web->headers) {
      if (!res.has_header(name)) res.set_header(name, value);
    }
    NoSniff(res);
    return api::Admit(req, FindRoute(req.method, req.path), policy, *web, res);
  }

  // Registers every route of the table (one that waits for the agent's
  // data does so within the limit), and before them the admission of each
  // request.
  void Routes() {
    server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      return Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                             : httplib::Server::HandlerResponse::Handled;
    });
    for (const Route& route : api::Routes()) {
      httplib::Server::Handler handler = [route](const httplib::Request& req,
                                                 httplib::Response& res) {
        if (route.waits) {
          OSB1_WaitLimit limit(axo_internal::kDataWaitMillis);
          route.handler(req, res);
        } else {
          route.handler(req, res);
        }
      };
      const std::string method = route.method;
      if (method == "GET") {
        server->Get(route.match, handler);
      } else if (method == "POST") {
        server->Post(route.match, handler);
      } else {
        server->Delete(route.match, handler);
      }
    }
    server->set_logger(CountRequest);
  }
};

OperatorApi::OperatorApi() : impl_(new Impl) {}

OperatorApi::~OperatorApi() { Stop(); }

Status OperatorApi::Start(const OperatorApiOptions& options) {
  if (impl_->running) return Status::Failed("the operator API is already running");
  if (Status s = impl_->webConfig.Start(options.webConfig); !s.ok()) return s;
  impl_->options = options;
  impl_->policy.token = options.token;
  impl_->policy.allowUnauthenticatedChanges = options.allowUnauthenticatedChanges;
  impl_->policy.allowedHosts = ParseAllowedHosts(options.allowedHosts);
  impl_->policy.passwordChecks = std::make_shared<http::CheckSlots>(options.maxPasswordChecks);
  PasswordChecksRefused();  // exposed from the start, at 0
  impl_->server = std::make_unique<ApiServer>();
  ApiServer& s = *impl_->server;
  s.set_payload_max_length(options.maxBodyBytes);
  // Only for the Keep-Alive field of the answers: the front end keeps time.
  s.set_keep_alive_max_count(http::kMaxRequestsPerConnection);
  s.set_keep_alive_timeout(std::chrono::ceil<std::chrono::seconds>(options.idleTimeout).count());
  s.set_error_handler(httplib::Server::HandlerWithResponse(DefaultError));
  s.set_exception_handler(InternalError);
  impl_->Routes();
  http::FrontEnd& front = impl_->frontEnd;
  if (Status s = front.Listen(options); !s.ok()) return s;
  front.SetRowAnswers(AnswersRows);
  s.SetListener(front.listener());
  auto serve = [&s](httplib::Stream& stream, SSL* ssl, bool close_connection,
                    bool* connection_closed) {
    return s.Serve(stream, ssl, close_connection, connection_closed);
  };
  // The front end's own answers are counted like every other.
  auto refused = [](const std::string& method, const std::string& path, int status) {
    httplib::Request req;
    req.method = method;
    req.path = path;
    httplib::Response res;
    res.status = status;
    CountRequest(req, res);
  };
  // Each new connection opens under the web configuration in force (its
  // watch re-reads it off this thread).
  auto make = [this](int fd) {
    const std::shared_ptr<const http::ActiveWebConfig> config = impl_->webConfig.Current();
    return config->tls != nullptr ? http::TlsContext::Wrap(config->tls, fd)
                                  : http::NewPlainTransport(fd);
  };
  // A request's body is read only once its head is admitted ("100
  // Continue" included); the whole request is admitted again.
  auto check = [this](const httplib::Request& head, httplib::Response* refusal) {
    return impl_->Admit(head, *refusal);
  };
  if (Status s = front.Run(serve, refused, make, check); !s.ok()) return s;
  impl_->port = front.port();
  impl_->running = true;
  const std::shared_ptr<const http::ActiveWebConfig> web = impl_->webConfig.Current();
  const bool tls = web->tls != nullptr;
  const bool unauthenticated = options.token.empty() && options.allowUnauthenticatedChanges;
  TRK1_Printf(&axohttp_unit, __LINE__, "AXO0101I Operator API listening on http%s://%s:%d%s",
              tls ? "s" : "", options.host.c_str(), impl_->port,
              !options.token.empty() ? " (token required)"
              : unauthenticated      ? " (changes open to anyone)"
                                     : " (changes refused: no token)");
  if (unauthenticated) {
    TRK1_Printf(&axohttp_unit, __LINE__,
                "AXO0112W Operator API: --allow-unauthenticated-changes without a token: "
                "ANYONE WHO REACHES %s:%d CAN CHANGE THE AGENT'S CONFIGURATION, SITUATIONS AND "
                "STOP IT (for demos and tests only)",
                options.host.c_str(), impl_->port);
  }
  const bool readsOpen = web->users->empty() && (!tls || !web->tls->requiresClientCertificate());
  if (!IsLoopback(options.host) && (!tls || readsOpen)) {
    std::string why = tls ? "" : " without TLS: tokens and passwords cross the network in clear";
    if (readsOpen) {
      why += std::string(tls ? "" : ";") +
             " with open reads: whoever reaches it reads every table and metric";
    }
    TRK1_Printf(&axohttp_unit, __LINE__,
                "AXO0110W Operator API on %s listens beyond loopback%s (--web-config)",
                options.host.c_str(), why.c_str());
  }
  return Status::OK();
}

void OperatorApi::Stop() {
  if (!impl_->running) return;
  impl_->frontEnd.Stop();
  impl_->webConfig.Stop();
  impl_->server->SetListener(INVALID_SOCKET);
  impl_->running = false;
  impl_->port = 0;
}

int OperatorApi::port() const { return impl_->port; }

void OperatorApi::RefreshWebConfig() { impl_->webConfig.Refresh(); }

}  // namespace axo::api
