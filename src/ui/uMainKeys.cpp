// The window's keys. The face is made of pictures that only a pointer can press, so the commands
// a user reaches for most have keys too, without anything on the face changing.
#include "ui/uMain.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

void TfrmMain::CreateShortcuts()
{
    const auto add = [this](const char* name, const QList<QKeySequence>& keys,
                            void (TfrmMain::*handler)(QObject*)) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(nullptr); });
        addAction(action);
    };
    add("HelpKey", {QKeySequence(Qt::Key_F1)}, &TfrmMain::HelpWith1Click);
    add("QuitKey", {QKeySequence(Qt::CTRL | Qt::Key_Q)}, &TfrmMain::Exit1Click);
    add("OptionsKey", {QKeySequence(Qt::CTRL | Qt::Key_O)}, &TfrmMain::Options1Click);
    // F2 renames from anywhere in the window, not only while the list has the focus.
    add("RenameKey", {QKeySequence(Qt::Key_F2)}, &TfrmMain::RenameTrack1Click);
    add("MenuKey", {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)},
        &TfrmMain::PopupMenuAtCurrentRow);

    // A click on the face takes the keyboard from the list, so Space then plays; a click in the
    // list gives it back, and Space ticks the current row as in any list with check boxes.
    setFocusPolicy(Qt::ClickFocus);
}

void TfrmMain::PlayOrPause(QObject*)
{
    if (FPlayActive && FCurrentTrack >= 0)
        imgPauseClick();
    else
        btnPlayClick();
}

void TfrmMain::PopupMenuAtCurrentRow(QObject*)
{
    QPoint at(0, 0);
    if (QTreeWidgetItem* current = ListView1->currentItem()) {
        ListView1->scrollToItem(current);
        at = ListView1->visualItemRect(current).bottomLeft() + QPoint(16, 0);
    }
    PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at));
}

void TfrmMain::keyPressEvent(QKeyEvent* event)
{
    // Space reaches the window when no control takes it: the face has the focus, or the list has
    // no current row to tick.
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        PlayOrPause(this);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TListView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && !currentIndex().isValid()) {
        event->ignore();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
