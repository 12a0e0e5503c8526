// The licence agreement that the user accepts before an installation.
#pragma once

// Lines separated by CR LF.
extern const char* const EULA_TEXT;
