// The About box and its menu item, in Chinese (Simplified) like the rest of the program's
// framing; the toolkit lays them out.
#pragma once

#include "rendax_version.h"

namespace rendax {

// The About item's text; "&A" marks the accelerator letter.
inline constexpr const char* kAboutMenuText = "关于 Rendax(&A)...";

struct CAboutDlg {
  static constexpr const char* kCaption = "关于 Rendax";
  static constexpr const char* kProduct = "Rendax Companion，" RENDAX_VERSION " 版";
  static constexpr const char* kDescription = "Rendax 循环录音效果器的桌面助手";
  static constexpr const char* kOk = "确定";
};

}  // namespace rendax
