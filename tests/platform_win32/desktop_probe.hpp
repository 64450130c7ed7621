#pragma once
// The drag setting as other programs on the desktop see it, read and set
// through SystemParametersInfoA directly, apart from the layer under test.

namespace quorvel::test {

// The setting as read by a new process (drag_setting_probe.exe); -1 when that
// process did not run.
int dragSettingSeenByAnotherProcess();
// Sets it for every program and in the user's profile; false when refused.
bool setDragSetting(int on);

}  // namespace quorvel::test
