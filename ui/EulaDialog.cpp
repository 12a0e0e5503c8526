#include "ui/EulaDialog.h"

#include "ui/EulaText.h"
#include "ui/Resource.h"

CEulaDialog::CEulaDialog(toolkit::CDialog* parent) : CDialog(UiTemplate(IDD_EULA_DIALOG), parent) {}

void CEulaDialog::DoDataExchange(toolkit::CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  toolkit::DDX_Control(pDX, IDC_AGREEMENT, m_agreementEdit);
}

bool CEulaDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  m_agreementEdit.SetWindowText(EULA_TEXT);
  return true;
}
