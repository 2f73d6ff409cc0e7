#pragma once

#include "presets/PresetBook.h"

#include <QMenu>
#include <QPointer>

// The presets as a menu, for the tray and for the main window: each saved
// preset to recall, then Save…, Rename…, Delete… and "Undo recall". Its
// title names the preset recalled last, marked "*" once the live state has
// moved away from it. What a request could not do is told in a message box.
class PresetMenu : public QMenu
{
    Q_OBJECT

public:
    // Dialogs open over owner, which may be null.
    PresetMenu(PresetBook* book, QWidget* owner, QWidget* parent = nullptr);

private:
    void bookChanged();
    void rebuild();
    void recallTriggered(const QString& name);
    void saveTriggered();
    void renameTriggered();
    void deleteTriggered();
    void undoTriggered();
    // The preset the user picks; empty when cancelled.
    QString pickPreset(const QString& title);
    void tell(const PresetBook::Outcome& outcome);

    PresetBook* book;
    QPointer<QWidget> owner;
    QAction* renameAction;
    QAction* deleteAction;
    QAction* undoAction;
    // The separator between the presets and the entries that stay.
    QAction* firstFixed;
};
