#include "presets/PresetMenu.h"

#include <QInputDialog>
#include <QKeySequence>
#include <QMessageBox>

PresetMenu::PresetMenu(PresetBook* book, QWidget* owner, QWidget* parent)
    : QMenu(parent)
    , book(book)
    , owner(owner)
{
    firstFixed = addSeparator();
    QAction* saveAction = addAction(tr("&Save…"), this, &PresetMenu::saveTriggered);
    saveAction->setShortcut(QKeySequence::Save);
    renameAction = addAction(tr("&Rename…"), this, &PresetMenu::renameTriggered);
    deleteAction = addAction(tr("&Delete…"), this, &PresetMenu::deleteTriggered);
    undoAction = addAction(tr("&Undo recall"), this, &PresetMenu::undoTriggered);
    undoAction->setShortcut(QKeySequence::Undo);
    connect(book, &PresetBook::changed, this, &PresetMenu::bookChanged);
    // A file copied into the folder shows the next time the menu opens.
    connect(this, &QMenu::aboutToShow, this, &PresetMenu::rebuild);
    bookChanged();
}

void PresetMenu::bookChanged()
{
    const QString last = book->lastRecalled();
    setTitle(last.isEmpty() ? tr("&Presets") : tr("&Presets: %1%2").arg(last, book->modified() ? QStringLiteral(" *") : QString()));
    undoAction->setEnabled(book->canUndo());
    rebuild();
}

// The presets come first, the last recalled one checked.
void PresetMenu::rebuild()
{
    const QList<QAction*> all = actions();
    // One of them may be the action being triggered.
    for (QAction* each : all.mid(0, all.indexOf(firstFixed))) {
        removeAction(each);
        each->deleteLater();
    }
    const QStringList names = book->names();
    for (const QString& name : names) {
        auto* recall = new QAction(name, this);
        recall->setCheckable(true);
        recall->setChecked(name == book->lastRecalled());
        connect(recall, &QAction::triggered, this, [this, name] { recallTriggered(name); });
        insertAction(firstFixed, recall);
    }
    firstFixed->setVisible(!names.isEmpty());
    renameAction->setEnabled(!names.isEmpty());
    deleteAction->setEnabled(!names.isEmpty());
}

void PresetMenu::recallTriggered(const QString& name)
{
    tell(book->recall(name));
    bookChanged();
}

void PresetMenu::saveTriggered()
{
    bool ok = false;
    const QString name = QInputDialog::getText(owner, tr("Save preset"), tr("Name of the preset:"), QLineEdit::Normal, book->lastRecalled(), &ok);
    if (!ok)
        return;
    if (book->names().contains(name)
        && QMessageBox::question(owner, tr("Save preset"), tr("Replace the preset \"%1\"?").arg(name)) != QMessageBox::Yes)
        return;
    tell(book->save(name));
}

void PresetMenu::renameTriggered()
{
    const QString from = pickPreset(tr("Rename preset"));
    if (from.isEmpty())
        return;
    bool ok = false;
    const QString to = QInputDialog::getText(owner, tr("Rename preset"), tr("New name of \"%1\":").arg(from), QLineEdit::Normal, from, &ok);
    if (ok && to != from)
        tell(book->rename(from, to));
}

void PresetMenu::deleteTriggered()
{
    const QString name = pickPreset(tr("Delete preset"));
    if (!name.isEmpty() && QMessageBox::question(owner, tr("Delete preset"), tr("Delete the preset \"%1\"?").arg(name)) == QMessageBox::Yes)
        tell(book->remove(name));
}

void PresetMenu::undoTriggered()
{
    tell(book->undoRecall());
}

QString PresetMenu::pickPreset(const QString& title)
{
    bool ok = false;
    const QString name = QInputDialog::getItem(owner, title, tr("Preset:"), book->names(), 0, false, &ok);
    return ok ? name : QString();
}

// A request done in full says nothing.
void PresetMenu::tell(const PresetBook::Outcome& outcome)
{
    if (outcome.status != PresetBook::Status::Done || !outcome.skipped.isEmpty())
        QMessageBox::warning(owner, tr("Presets"), outcome.message);
}
