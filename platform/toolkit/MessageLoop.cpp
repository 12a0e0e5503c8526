#include "platform/toolkit/MessageLoop.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace toolkit {

namespace {

struct Dispatcher {
  std::mutex mutex;
  std::shared_ptr<ThreadMessageHandler> handler;
  struct Entry {
    int token;
    uint32_t message;
    std::shared_ptr<ThreadMessageService> service;
  };
  std::vector<Entry> services;
  int nextToken = 1;
};

Dispatcher& TheDispatcher() {
  static Dispatcher* d = new Dispatcher;  // lives until the process ends
  return *d;
}

}  // namespace

void SetThreadMessageHandler(ThreadMessageHandler handler) {
  Dispatcher& d = TheDispatcher();
  auto h = handler ? std::make_shared<ThreadMessageHandler>(std::move(handler)) : nullptr;
  std::lock_guard<std::mutex> lock(d.mutex);
  d.handler = std::move(h);
}

int AddThreadMessageService(uint32_t message, ThreadMessageService service) {
  Dispatcher& d = TheDispatcher();
  auto s = std::make_shared<ThreadMessageService>(std::move(service));
  std::lock_guard<std::mutex> lock(d.mutex);
  const int token = d.nextToken++;
  d.services.push_back(Dispatcher::Entry{token, message, std::move(s)});
  return token;
}

void RemoveThreadMessageService(int token) {
  Dispatcher& d = TheDispatcher();
  std::lock_guard<std::mutex> lock(d.mutex);
  for (auto it = d.services.begin(); it != d.services.end(); ++it) {
    if (it->token == token) {
      d.services.erase(it);
      return;
    }
  }
}

void DispatchUiMessage(const platform::Message& msg) {
  if (msg.hwnd != 0) {
    platform::DispatchMessage(msg);
    return;
  }
  // The handlers run outside the lock: they may open dialogs whose loops
  // dispatch further messages.
  std::shared_ptr<ThreadMessageService> service;
  std::shared_ptr<ThreadMessageHandler> handler;
  {
    Dispatcher& d = TheDispatcher();
    std::lock_guard<std::mutex> lock(d.mutex);
    for (auto it = d.services.rbegin(); it != d.services.rend(); ++it) {
      if (it->message == msg.message) {
        service = it->service;
        break;
      }
    }
    if (!service) handler = d.handler;
  }
  if (service)
    (*service)(msg);
  else if (handler)
    (*handler)(msg);
}

bool PumpWaitingMessages(int limit) {
  platform::Message msg;
  for (int i = 0; i < limit && platform::PeekMessage(msg); ++i) {
    if (msg.hwnd == 0 && msg.message == platform::WM_QUIT) {
      platform::PostThreadMessage(platform::CurrentThreadId(), platform::WM_QUIT, msg.wParam, msg.lParam);
      return false;
    }
    DispatchUiMessage(msg);
  }
  return true;
}

}  // namespace toolkit
