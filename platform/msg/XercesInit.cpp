#include "msg/XercesInit.h"

#include <mutex>

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>

#include "log/EvEvent.h"
#include "msg/MsgText.h"

namespace {

std::once_flag g_once;
bool g_ready = false;
std::string g_error;

void Initialise() {
  try {
    xercesc::XMLPlatformUtils::Initialize();
    g_ready = true;
  } catch (const xercesc::XMLException& e) {
    const XMLCh* msg = e.getMessage();
    g_error = "XML library initialisation failed: ";
    if (msg) CMsgText::AppendUtf8(g_error, msg, xercesc::XMLString::stringLen(msg));
  } catch (...) {
    g_error = "XML library initialisation failed";
  }
  if (!g_ready) EvDebug().Error("Ensure", "%s", g_error.c_str());
}

}  // namespace

bool CXercesInit::Ensure(std::string* error) {
  std::call_once(g_once, Initialise);
  if (!g_ready && error) *error = g_error;
  return g_ready;
}
