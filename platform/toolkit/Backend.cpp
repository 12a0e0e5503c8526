#include "platform/toolkit/Backend.h"

#include "platform/toolkit/ConsoleBackend.h"
#include "platform/toolkit/HeadlessBackend.h"

#include <mutex>

namespace toolkit {

namespace {
std::mutex g_backendMutex;
std::shared_ptr<IBackend>& BackendSlot() {
  static std::shared_ptr<IBackend>* slot = new std::shared_ptr<IBackend>;
  return *slot;
}
}  // namespace

void SetBackend(std::shared_ptr<IBackend> backend) {
  std::lock_guard<std::mutex> lock(g_backendMutex);
  BackendSlot() = std::move(backend);
}

std::shared_ptr<IBackend> GetBackend() {
  std::lock_guard<std::mutex> lock(g_backendMutex);
  std::shared_ptr<IBackend>& slot = BackendSlot();
  if (!slot) slot = CreateBackend(DefaultBackendName());
  if (!slot) slot = std::make_shared<CConsoleBackend>();
  return slot;
}

std::shared_ptr<IBackend> CreateBackend(const std::string& name) {
  if (name == "headless") return std::make_shared<CHeadlessBackend>();
  if (name == "console") return std::make_shared<CConsoleBackend>();
  return nullptr;  // gtk and win32 are not part of this build
}

std::string DefaultBackendName() {
#ifdef _WIN32
  return "win32";
#else
  // The gtk backend is taken where a display is available once the build
  // has it; until then every session gets the console.
  return "console";
#endif
}

}  // namespace toolkit
