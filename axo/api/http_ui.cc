// Serves the embedded dashboard files.
#include "axo/api/http_ui.h"

#include <httplib.h>

#include <cstring>
#include <string>
#include <string_view>

namespace axo::api {
namespace {

// Scripts, styles, images and requests from the agent itself only; no
// inline script or style, no plug-ins, no framing, forms post only here.
constexpr const char* kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

const char* ContentType(std::string_view path) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"}};
  for (const auto& [suffix, type] : kTypes) {
    if (path.ends_with(suffix)) return type;
  }
  return "application/octet-stream";
}

void Serve(const Asset& asset, httplib::Response& res) {
  res.set_header("Content-Security-Policy", kPolicy);
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("Cache-Control", "no-cache");
  res.set_content(reinterpret_cast<const char*>(asset.data), asset.size, ContentType(asset.path));
}

}  // namespace

bool ServeAsset(const std::string& name, httplib::Response& res) {
  for (size_t i = 0; i < kNumAssets; ++i) {
    if (name == kAssets[i].path) {
      Serve(kAssets[i], res);
      return true;
    }
  }
  return false;
}

}  // namespace axo::api
