#include "engine/InstallerThread.h"

#include "BuildConfig.h"

uint32_t UM_UPDATE_DATA_MSG = 0;
uint32_t UM_THREAD_CLOSING_MSG = 0;
uint32_t UM_START_PROCESSING = 0;
uint32_t UM_SHOW_WINDOW_MSG = 0;

const std::string g_modelName = K4V_MODEL_NAME;

void RegisterInstallerMessages() {
  UM_UPDATE_DATA_MSG = platform::RegisterMessage("UM_UPDATE_DATA_MSG_{B867F98C-E24D-4532-B2E0-B7D3B53A6355}");
  UM_THREAD_CLOSING_MSG = platform::RegisterMessage("UM_THREAD_CLOSING_MSG_{B867F98C-E24D-4532-B2E0-B7D3B53A6355}");
  UM_START_PROCESSING = platform::RegisterMessage("UM_START_PROCESSING_{B867F98C-E24D-4532-B2E0-B7D3B53A6355}");
  UM_SHOW_WINDOW_MSG = platform::RegisterMessage("UM_SHOW_WINDOW_MSG_{B867F98C-E24D-4532-B2E0-B7D3B53A6355}");
}

void CThreadedProgressCtrl::SetRange(int32_t lower, int32_t upper) {
  platform::PostMessage(Handle(), platform::PBM_SETRANGE32, static_cast<uintptr_t>(static_cast<uint32_t>(lower)),
                        upper);
}

void CThreadedProgressCtrl::SetPos(int32_t pos) {
  platform::PostMessage(Handle(), platform::PBM_SETPOS, static_cast<uintptr_t>(static_cast<uint32_t>(pos)), 0);
}

void CThreadedProgressCtrl::Show(int32_t cmd) {
  platform::PostThreadMessage(platform::AppThreadId(), UM_SHOW_WINDOW_MSG, Handle(), cmd);
}

CInstallerThread::CInstallerThread() { m_autoDelete = true; }

CInstallerThread::~CInstallerThread() = default;

bool CInstallerThread::OnThreadMessage(const platform::Message& msg) {
  if (msg.message != UM_START_PROCESSING || UM_START_PROCESSING == 0) return false;
  OnStartProcessing(msg.wParam, msg.lParam);
  return true;
}

void CInstallerThread::OnStartProcessing(uintptr_t, intptr_t) {
  int32_t result = 0;
  try {
    result = RunInstallation();
  } catch (...) {
    result = 0;
  }
  platform::PostThreadMessage(platform::AppThreadId(), UM_THREAD_CLOSING_MSG,
                              static_cast<uintptr_t>(m_abortRequested.load()), result);
  platform::PostThreadMessage(ThreadIdentifier(), platform::WM_QUIT, 0, 0);
}

int32_t CInstallerThread::RunInstallation() {
  // The installation sequence is not part of this build yet: say so instead
  // of pretending to install.
  m_statusText = "The installation sequence is not available in this build";
  PostStatus(m_statusText);
  return 0;
}

void CInstallerThread::PostStatus(const std::string& text) {
  auto* record = new B_STR(text, 0);
  if (!platform::PostThreadMessage(platform::AppThreadId(), UM_UPDATE_DATA_MSG,
                                   reinterpret_cast<uintptr_t>(record), 0))
    delete record;  // nobody will receive it
}
