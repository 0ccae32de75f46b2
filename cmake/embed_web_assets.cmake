# Writes OUTPUT, a C++ file that holds every file of ASSET_DIR as bytes, with
# Lumetra::findWebAsset to look them up (src/web/web_assets.h).
file(GLOB assets RELATIVE ${ASSET_DIR} ${ASSET_DIR}/*)
list(SORT assets)
set(body "")
set(table "")
set(index 0)
foreach(asset ${assets})
  file(READ ${ASSET_DIR}/${asset} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "const char asset${index}[] = {${bytes} 0};\n")
  if(asset MATCHES "\\.html$")
    set(type "text/html; charset=utf-8")
  elseif(asset MATCHES "\\.js$")
    set(type "text/javascript; charset=utf-8")
  elseif(asset MATCHES "\\.css$")
    set(type "text/css; charset=utf-8")
  elseif(asset MATCHES "\\.svg$")
    set(type "image/svg+xml")
  else()
    set(type "application/octet-stream")
  endif()
  string(APPEND table "    {\"/${asset}\", \"${type}\", asset${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.tmp "// Generated from src/web/assets/ by cmake/embed_web_assets.cmake.
#include \"web/web_assets.h\"

namespace Lumetra {
namespace {
${body}
const WebAsset kAssets[] = {
${table}};
}  // namespace

const WebAsset* findWebAsset(const std::string& path) {
    for (const WebAsset& asset : kAssets) {
        if (path == asset.path) {
            return &asset;
        }
    }
    return nullptr;
}

}  // namespace Lumetra
")
configure_file(${OUTPUT}.tmp ${OUTPUT} COPYONLY)
