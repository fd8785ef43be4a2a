// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/instance.h"
#include "app/shell.h"

#include <gtest/gtest.h>

#include <QFileInfo>

TEST(InstanceMarkers, SeenWhileHeldAndTwoCopiesRunSideBySide)
{
    EXPECT_FALSE(app::InstanceMarkers::IsRunning());
    {
        const app::InstanceMarkers first;
        const app::InstanceMarkers second; // a second copy runs like the first
        EXPECT_TRUE(app::InstanceMarkers::IsRunning());
        EXPECT_EQ(QFileInfo(app::InstanceMarkers::GlobalPath()).permissions() & QFile::WriteOther, QFile::WriteOther);
    }
    EXPECT_FALSE(app::InstanceMarkers::IsRunning());
}

TEST(DragSetting, SwitchedOffForTheRunAndRestored)
{
    app::DragSetting drag;
    const bool before = app::DragSetting::fullWindowDrag();
    drag.switchOff();
    EXPECT_FALSE(app::DragSetting::fullWindowDrag());
    drag.restore();
    EXPECT_EQ(app::DragSetting::fullWindowDrag(), before);
}

TEST(ErrorBox, FullStopOnlyAfterCharactersThatSortAfterIt)
{
    EXPECT_EQ(app::WithFullStop("Unable to rotate the image: IMG_0042.JPG"), "Unable to rotate the image: IMG_0042.JPG.");
    EXPECT_EQ(app::WithFullStop("Done."), "Done.");
    EXPECT_EQ(app::WithFullStop("Stop!"), "Stop!");
    EXPECT_EQ(app::WithFullStop(""), "");
}
