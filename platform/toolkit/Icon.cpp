#include "platform/toolkit/Icon.h"

#include <deque>
#include <mutex>

namespace toolkit {

namespace {
struct IconRegistry {
  std::mutex mutex;
  std::deque<IconImage> store;  // handles stay valid for the whole process
  std::map<int, const IconImage*> icons;
};

IconRegistry& Icons() {
  static IconRegistry* r = new IconRegistry;
  return *r;
}
}  // namespace

void RegisterIcon(const IconImage& image) {
  IconRegistry& r = Icons();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.store.push_back(image);
  r.icons[image.resourceId] = &r.store.back();
}

HICON LoadIcon(int resourceId) {
  IconRegistry& r = Icons();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.icons.find(resourceId);
  return it == r.icons.end() ? nullptr : it->second;
}

}  // namespace toolkit
