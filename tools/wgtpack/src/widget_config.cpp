#include "widget_config.h"

#include "error.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

namespace wgtpack {
namespace {

constexpr char kWidgetNs[] = "http://www.w3.org/ns/widgets";
constexpr char kTizenNs[] = "http://tizen.org/ns/widgets";

bool is(const xmlNode* n, const char* name, const char* ns) {
  return n && n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, BAD_CAST name) && n->ns &&
         xmlStrEqual(n->ns->href, BAD_CAST ns);
}

std::string attribute(xmlNode* n, const char* name) {
  xmlChar* v = xmlGetNoNsProp(n, BAD_CAST name);
  std::string s = v ? reinterpret_cast<const char*>(v) : "";
  xmlFree(v);
  return s;
}

}  // namespace

void checkWidgetConfig(const std::string& text, const std::string& file) {
  auto fail = [&](const std::string& what) { return Error("config.xml '" + file + "' " + what); };
  const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
      xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
      &xmlFreeDoc);
  if (!doc) throw fail("is not well-formed XML");
  xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!is(root, "widget", kWidgetNs))
    throw fail("has no <widget> root element in the namespace " + std::string(kWidgetNs));
  xmlNode* application = nullptr;
  for (xmlNode* n = root->children; n && !application; n = n->next)
    if (is(n, "application", kTizenNs)) application = n;
  if (!application) throw fail("has no <tizen:application> element");
  const std::string id = attribute(application, "id"), package = attribute(application, "package");
  if (package.empty() || id.empty()) throw fail("names no application id and package in <tizen:application>");
  if (id.rfind(package + ".", 0) != 0 || id.size() == package.size() + 1)
    throw fail("has the application id '" + id + "', which is not its package '" + package + "' + \".NAME\"");
}

}  // namespace wgtpack
