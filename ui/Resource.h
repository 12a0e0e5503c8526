// Resource ids of the installer's dialogs, controls and icons.
#pragma once

// Dialog templates.
inline constexpr int IDD_SERIAL_NUMBER_DIALOG = 129;
inline constexpr int IDD_EULA_DIALOG = 130;
inline constexpr int IDD_PASS_FAIL_DIALOG = 131;

// Controls.
inline constexpr int IDC_SERIAL_NUMBER = 1003;
inline constexpr int IDC_AGREEMENT = 1004;
inline constexpr int IDC_RETRY = 1007;
inline constexpr int IDC_DETAILS = 1008;
inline constexpr int IDC_RESULT_MESSAGE = 1009;
inline constexpr int IDC_SUCCESS_ICON = 1010;
inline constexpr int IDC_FAILURE_ICON = 1011;

// Icons.
inline constexpr int IDR_MAINFRAME = 128;     // the application icon
inline constexpr int IDI_SUCCESS = 132;       // a green check mark
inline constexpr int IDI_FAILURE = 133;       // a red octagon

// Registers the templates and icons above with the toolkit. Safe to call
// more than once and from any thread; the dialog classes call it themselves.
void RegisterUiResources();
// The template id, after the resources have been registered.
int UiTemplate(int templateId);
