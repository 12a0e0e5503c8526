#include "ui/SerialNumberPromptUi.h"

#include "platform/toolkit/MessageLoop.h"
#include "platform/toolkit/Styles.h"
#include "ui/SerialNumberDialog.h"

uint32_t CSerialNumberPromptUi::RequestMessage() {
  static const uint32_t id = platform::RegisterMessage("UM_ASK_SERIAL_NUMBER_{5C0B7E21-9A3D-4F6B-8E15-2D7A94C3B601}");
  return id;
}

CSerialNumberPromptUi::CSerialNumberPromptUi() : m_uiThread(platform::CurrentThreadId()) {
  m_serviceToken = toolkit::AddThreadMessageService(RequestMessage(), [this](const platform::Message& msg) { Serve(msg.wParam); });
  SetSerialNumberPrompt(this);
}

CSerialNumberPromptUi::~CSerialNumberPromptUi() {
  if (GetSerialNumberPrompt() == this) SetSerialNumberPrompt(nullptr);
  toolkit::RemoveThreadMessageService(m_serviceToken);
  std::unique_lock<std::mutex> lock(m_mutex);
  m_closing = true;
  for (auto& [id, request] : m_requests) request.answered = true;  // cancelled
  m_answered.notify_all();
  // A worker still inside AskSerialNumber leaves it before the object goes.
  m_answered.wait(lock, [this] { return m_waiting == 0; });
}

bool CSerialNumberPromptUi::RunDialog(int32_t initialValue, int32_t& value) {
  CSerialNumberDialog dlg(nullptr);
  dlg.m_serialNumber = initialValue;
  if (dlg.DoModal() != toolkit::IDOK) return false;
  value = dlg.m_serialNumber;
  return true;
}

bool CSerialNumberPromptUi::AskSerialNumber(int32_t initialValue, int32_t& value) {
  if (platform::CurrentThreadId() == m_uiThread) return RunDialog(initialValue, value);

  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_closing) return false;
  const uintptr_t id = m_nextRequest++;
  m_requests[id].initialValue = initialValue;
  if (!platform::PostThreadMessage(m_uiThread, RequestMessage(), id, 0)) {
    m_requests.erase(id);
    return false;  // the user-interface thread is gone: nobody can answer
  }
  ++m_waiting;
  m_answered.wait(lock, [&] { return m_requests[id].answered; });
  const Request answer = m_requests[id];
  m_requests.erase(id);
  --m_waiting;
  m_answered.notify_all();
  if (!answer.confirmed) return false;
  value = answer.value;
  return true;
}

void CSerialNumberPromptUi::Serve(uintptr_t requestId) {
  int32_t initialValue = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_requests.find(requestId);
    if (it == m_requests.end() || it->second.answered) return;
    initialValue = it->second.initialValue;
  }
  int32_t value = 0;
  const bool confirmed = RunDialog(initialValue, value);
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_requests.find(requestId);
  if (it == m_requests.end() || it->second.answered) return;
  it->second.answered = true;
  it->second.confirmed = confirmed;
  it->second.value = value;
  m_answered.notify_all();
}
