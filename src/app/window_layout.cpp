// Compiled with -fexec-charset=CP936: every caption here is code page 936 bytes at run time.
#include "app/window_layout.h"

// One control a line reads as the table it is.
// clang-format off
constexpr WindowLayout MainWindowLayout{
    .title = "PelvaroV2.0",
    .narrowWidth = 540,
    .wideWidth = 853,
    .height = 374,
    .controls = {{
        // control, kind, layout name, caption, {left, top, width, height}, enabled at start
        {Control::NameLabel, ControlKind::Label, "透明标签1", "名称：", {13, 8, 32, 24}, true},
        {Control::KeywordBox, ControlKind::EditBox, "编辑框1", "", {53, 8, 419, 24}, true},
        // Enabled only by the browser panel's first new window.
        {Control::SearchButton, ControlKind::PushButton, "按钮1", "搜搜搜", {477, 8, 48, 24}, false},
        {Control::ResultTable, ControlKind::Table, "超级列表框1", "", {8, 40, 520, 264}, true},
        {Control::PreviousPageButton, ControlKind::PushButton, "按钮3", "上一页", {8, 312, 72, 24}, true},
        {Control::PageLabel, ControlKind::Label, "透明标签2", "1", {86, 312, 58, 24}, true, TextAlign::Center},
        {Control::NextPageButton, ControlKind::PushButton, "按钮2", "下一页", {152, 312, 72, 24}, true},
        {Control::ClearCheckBox, ControlKind::CheckBox, "选择框1", "是否删除当前页", {240, 312, 112, 24}, true},
        {Control::RefreshButton, ControlKind::PushButton, "按钮4", "刷新", {368, 312, 48, 24}, true},
        {Control::SupportButton, ControlKind::PushButton, "按钮5", "支持作者", {432, 312, 96, 24}, true},
        // At x 536 it lies beyond the client area of the narrow window, wholly inside the wide one.
        {Control::BrowserPanel, ControlKind::BrowserPanel, "超文本浏览框1", "", {536, 8, 304, 320}, true},
    }},
    .columns = {{{"名称", 200}, {"大小", 80}, {"共享者", 120}, {"地址", 100}}},
    .menuName = "右键菜单",
    .menuItems = {{{"打开链接", MenuChoice::OpenLink}, {"复制链接", MenuChoice::CopyLink}}},
    .pageFont = {.face = "黑体", .height = -16, .weight = 400, .charset = 134},  // GB2312
};
// clang-format on

// The table is indexed by Control; a control out of place would be laid out as another.
static_assert([] {
  for (std::size_t i = 0; i < ControlCount; ++i) {
    if (static_cast<std::size_t>(MainWindowLayout.controls[i].control) != i) return false;
  }
  return true;
}());
