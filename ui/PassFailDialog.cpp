#include "ui/PassFailDialog.h"

#include "ui/Resource.h"

CPassFailDialog::CPassFailDialog(const std::string& details, int32_t success, toolkit::CDialog* parent)
    : CDialog(UiTemplate(IDD_PASS_FAIL_DIALOG), parent), m_success(success), m_details(details) {}

void CPassFailDialog::DoDataExchange(toolkit::CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  toolkit::DDX_Control(pDX, IDC_FAILURE_ICON, m_failureIcon);
  toolkit::DDX_Control(pDX, IDC_SUCCESS_ICON, m_successIcon);
  toolkit::DDX_Control(pDX, IDC_RESULT_MESSAGE, m_messageText);
  toolkit::DDX_Control(pDX, IDC_RETRY, m_retryButton);
  toolkit::DDX_Control(pDX, IDC_DETAILS, m_detailsEdit);
}

bool CPassFailDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  if (m_success) {
    m_failureIcon.EnableWindow(false);
    m_failureIcon.ShowWindow(toolkit::SW_HIDE);
    m_messageText.SetWindowText("Firmware install completed successfully!");
    m_retryButton.EnableWindow(false);
  } else {
    m_successIcon.EnableWindow(false);
    m_successIcon.ShowWindow(toolkit::SW_HIDE);
    m_messageText.SetWindowText("Firmware install failed! Please try again.");
  }
  m_detailsEdit.SetWindowText(m_details);
  return true;
}

bool CPassFailDialog::OnCommand(int id) {
  if (id != IDC_RETRY) return false;
  OnRetry();
  return true;
}

void CPassFailDialog::OnRetry() { EndDialog(toolkit::IDRETRY); }
