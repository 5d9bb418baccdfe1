// The dashboard page of the operator API: its files, embedded in the binary
// at build time (cmake/embed_files.cmake writes the table from axo/ui/), and
// the routes that serve them. Framework-internal.
#ifndef AXO_SRC_HTTP_UI_H_
#define AXO_SRC_HTTP_UI_H_

#include <cstddef>

namespace httplib {
class Server;
}

namespace axo {
namespace ui {

// One embedded file: its path under axo/ui/ ("app.js") and its bytes.
struct Asset {
  const char* path;
  const unsigned char* data;
  size_t size;
};
extern const Asset kAssets[];
extern const size_t kNumAssets;

// Adds GET / (index.html) and GET /ui/<path> for every asset, each with its
// content type, a Content-Security-Policy that allows only the agent's own
// scripts, styles and requests, and nosniff. Call before the server listens.
void AddRoutes(httplib::Server& server);

}  // namespace ui
}  // namespace axo

#endif  // AXO_SRC_HTTP_UI_H_
