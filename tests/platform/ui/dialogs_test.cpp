#include "platform/ui/dialogs.h"

#include <gtest/gtest.h>

#include "platform/ui/qt_dialogs.h"
#include "platform/ui/scripted_dialogs.h"

using namespace platform::ui;

TEST(ScriptedDialogs, RecordsEveryBoxAndAnswersFromTheScript) {
    ScriptedDialogs script;
    script.answerNext(mb::No);
    EXPECT_EQ(msgBox("Overwrite?", mb::YesNo | mb::Question, "Title"), mb::No);
    // Unscripted boxes answer with their first button.
    EXPECT_EQ(msgBox("Sure?", mb::YesNo), mb::Yes);
    EXPECT_EQ(msgBox("Done"), mb::Ok);
    ASSERT_EQ(script.boxes().size(), 3u);
    EXPECT_EQ(script.boxes()[0].text, "Overwrite?");
    EXPECT_EQ(script.boxes()[0].style & mb::IconMask, mb::Question);
    EXPECT_EQ(script.boxes()[0].title, "Title");
    // Without a title the application's title is used.
    EXPECT_EQ(script.boxes()[2].title, appTitle());
}

TEST(ScriptedDialogs, FileDialogCancelReturnsEmptyOrRaisesWhenAsked) {
    ScriptedDialogs script;
    script.answerNextFile("/tmp/a.txt");
    EXPECT_EQ(dialogs().fileDialog({}), "/tmp/a.txt");
    EXPECT_TRUE(dialogs().fileDialog({}).isEmpty());
    FileDialogRequest raising;
    raising.cancelRaises = true;
    EXPECT_THROW(dialogs().fileDialog(raising), DialogCancelled);
    EXPECT_EQ(script.fileDialogs().size(), 3u);
}

TEST(ScriptedDialogs, UninstallsItselfWhenDestroyed) {
    Dialogs* before = &dialogs();
    {
        ScriptedDialogs script;
        EXPECT_EQ(&dialogs(), &script);
    }
    EXPECT_EQ(&dialogs(), before);
}

TEST(QtNameFilters, TurnsPipeSeparatedPairsIntoQtFiltersAndStarDotStarIntoEveryFile) {
    EXPECT_EQ(qtNameFilters("Text (*.txt)|*.txt|All files (*.*)|*.*"), "Text (*.txt);;All files (*)");
    EXPECT_EQ(qtNameFilters("Any File *.*|*.*"), "Any File *.* (*)");
    EXPECT_EQ(qtNameFilters("SQL|*.sql;*.txt"), "SQL (*.sql *.txt)");
}
