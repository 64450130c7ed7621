#pragma once
// The drag setting as other programs on the desktop see it, read and set
// through SystemParametersInfoA directly, apart from the layer under test.

namespace quorvel::test {

// The setting as read by a new process (this program run with --drag-setting);
// -1 when that process did not run.
int dragSettingSeenByAnotherProcess();
// Sets it for every program and in the user's profile; false when refused.
bool setDragSetting(int on);
// The child's side: reads the setting and returns it as the exit code.
int reportDragSetting();

}  // namespace quorvel::test
