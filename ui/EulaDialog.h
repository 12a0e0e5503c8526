// CEulaDialog: the licence agreement that the user must accept before an
// installation starts. The modal run returns IDOK (1) for "I Accept" and
// IDCANCEL (2) for "Cancel", Escape, Enter (Cancel is the default button) and
// the close box.
#pragma once

#include "platform/toolkit/Dialog.h"

class CEulaDialog : public toolkit::CDialog {
 public:
  explicit CEulaDialog(toolkit::CDialog* parent = nullptr);

  toolkit::CEdit m_agreementEdit;

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(toolkit::CDataExchange* pDX) override;
};
