#include "engine/viewer.h"

namespace torvel {

namespace {

// Text for an HTML element: the characters that could end it escaped.
std::string htmlText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else
      out += c;
  }
  return out;
}

}  // namespace

std::string viewerPage(const PyramidPlan& plan, const std::string& title) {
  return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + htmlText(title) +
         "</title>\n<style>html, body { margin: 0; height: 100%; background: #202020; } "
         "#view { width: 100%; height: 100%; }</style>\n"
         "<script src=\"openseadragon/openseadragon.min.js\"></script>\n</head>\n<body>\n<div id=\"view\"></div>\n"
         "<script>\n"
         "var viewer = OpenSeadragon({id: \"view\", prefixUrl: \"openseadragon/images/\", showNavigator: true,\n"
         "  tileSources: " + plan.viewerSource() + "});\n"
         "var zoom = /zoom=([0-9.]+)/.exec(location.hash);\n"
         "if (zoom) viewer.addOnceHandler(\"open\", function () { viewer.viewport.zoomTo(parseFloat(zoom[1]), null, true); });\n"
         "</script>\n</body>\n</html>\n";
}

}  // namespace torvel
