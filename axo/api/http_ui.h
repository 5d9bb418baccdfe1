// The dashboard page of the operator API: its files, embedded in the binary
// at build time (cmake/embed_files.cmake writes the table from axo/api/ui/), and
// the routes that serve them. Framework-internal.
#ifndef AXO_API_HTTP_UI_H_
#define AXO_API_HTTP_UI_H_

#include <cstddef>
#include <string>

namespace httplib {
struct Response;
}

namespace axo::api {

// One embedded file: its path under axo/api/ui/ ("app.js") and its bytes.
struct Asset {
  const char* path;
  const unsigned char* data;
  size_t size;
};
extern const Asset kAssets[];
extern const size_t kNumAssets;

// Answers with the asset named `name` ("index.html", "app.js"): its
// content type, a Content-Security-Policy that allows only the agent's own
// scripts, styles and requests, and nosniff. False, leaving `res` alone,
// when there is no such asset.
bool ServeAsset(const std::string& name, httplib::Response& res);

}  // namespace axo::api

#endif  // AXO_API_HTTP_UI_H_
