// CPassFailDialog: the results dialog that ends every installation. Its
// success form shows the check mark and the success message with "Retry"
// disabled; its failure form shows the octagon and the failure message with
// "Retry" enabled. Below, the details text (the last status line).
//
// The modal run returns IDOK (1) for "OK" or Enter, IDCANCEL (2) for Escape
// or the close box, and IDRETRY (4) for "Retry".
#pragma once

#include "platform/toolkit/Dialog.h"

#include <cstdint>
#include <string>

class CPassFailDialog : public toolkit::CDialog {
 public:
  CPassFailDialog(const std::string& details, int32_t success, toolkit::CDialog* parent = nullptr);

  toolkit::CStatic m_failureIcon;
  toolkit::CStatic m_successIcon;
  toolkit::CStatic m_messageText;
  toolkit::CButton m_retryButton;
  toolkit::CEdit m_detailsEdit;
  int32_t m_success;
  std::string m_details;

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(toolkit::CDataExchange* pDX) override;
  bool OnCommand(int id) override;
  void OnRetry();
};
