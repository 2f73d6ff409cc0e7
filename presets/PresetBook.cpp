#include "presets/PresetBook.h"

#include "app/DeviceSession.h"
#include "panels/ModelPanel.h"
#include "presets/PresetFile.h"
#include "presets/PresetsLog.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

constexpr int kLongestName = 64;
// Besides the path separators, what a Windows file name cannot hold.
const QString kForbidden = QStringLiteral("/\\:*?\"<>|");

using Outcome = PresetBook::Outcome;
using Status = PresetBook::Status;

Outcome badRequest(const QString& message)
{
    return { Status::BadRequest, message, {}, {} };
}

} // namespace

PresetBook::PresetBook(DeviceSession* session, QObject* parent)
    : QObject(parent)
    , session(session)
{
    connect(session, &DeviceSession::stateChanged, this, &PresetBook::panelChanged);
    panelChanged();
}

// Beside the models' state files.
QString PresetBook::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/presets");
}

QString PresetBook::pathOf(const QString& name)
{
    return folder() + '/' + name + QStringLiteral(".ini");
}

QString PresetBook::nameProblem(const QString& name)
{
    if (name.trimmed().isEmpty())
        return tr("A preset needs a name.");
    if (name.size() > kLongestName)
        return tr("A preset's name has at most %1 characters.").arg(kLongestName);
    if (name.startsWith('.'))
        return tr("A preset's name cannot start with a dot.");
    for (const QChar each : name) {
        if (kForbidden.contains(each) || each.category() == QChar::Other_Control)
            return tr("A preset's name cannot hold control characters or any of %1.").arg(kForbidden);
    }
    return {};
}

QString PresetBook::existingProblem(const QString& name)
{
    const QString problem = nameProblem(name);
    if (!problem.isEmpty() || QFile::exists(pathOf(name)))
        return problem;
    return tr("There is no preset named \"%1\".").arg(name);
}

QStringList PresetBook::names() const
{
    QStringList found;
    for (const QString& file : QDir(folder()).entryList({ QStringLiteral("*.ini") }, QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        const QString name = file.chopped(4);
        if (nameProblem(name).isEmpty())
            found << name;
    }
    return found;
}

ModelPanel* PresetBook::livePanel() const
{
    ModelPanel* panel = session->panel();
    return panel && panel->isConnected() ? panel : nullptr;
}

Outcome PresetBook::save(const QString& name)
{
    if (const QString problem = nameProblem(name); !problem.isEmpty())
        return badRequest(problem);
    ModelPanel* panel = livePanel();
    if (!panel)
        return { Status::DeviceFailed, tr("No interface is connected."), {}, {} };
    QDir().mkpath(folder());
    PresetFile file(pathOf(name));
    if (!file.write(panel->modelName(), panel->controlValues()))
        return badRequest(file.error());
    qCDebug(lcPresets) << "Preset saved:" << name;
    setRecalled(name, file.controls());
    return { Status::Done, tr("Saved the preset \"%1\".").arg(name), {}, {} };
}

// Nothing is applied from a file that does not read whole.
Outcome PresetBook::recall(const QString& name)
{
    if (const QString problem = existingProblem(name); !problem.isEmpty())
        return badRequest(problem);
    PresetFile file(pathOf(name));
    ModelPanel* panel = livePanel();
    if (!file.read() || (panel && !file.fit(panel->modelName(), panel->controlInfo()))) {
        qCDebug(lcPresets).noquote() << "Preset refused:" << file.error();
        return badRequest(file.error());
    }
    if (!panel)
        return { Status::DeviceFailed, tr("No interface is connected."), {}, {} };
    const QMap<QString, int> before = panel->controlValues();
    Outcome outcome = apply(panel, file.controls(), tr("Recalled the preset \"%1\".").arg(name));
    undoState = before;
    undoModel = panel->modelName();
    undoName = recalled;
    undoNameValues = recalledValues;
    outcome.skipped = file.skipped();
    if (!outcome.skipped.isEmpty()) {
        outcome.message += ' ' + tr("This %1 lacks %2, saved on a %3, so they were skipped.")
                                     .arg(panel->modelName(), outcome.skipped.join(QStringLiteral(", ")), file.model());
        qCDebug(lcPresets).noquote() << "Preset controls skipped:" << outcome.skipped.join(QStringLiteral(", "));
    }
    qCDebug(lcPresets) << "Preset recalled:" << name;
    setRecalled(name, file.controls());
    return outcome;
}

// What the device refused keeps its value; the rest is applied.
Outcome PresetBook::apply(ModelPanel* panel, const QMap<QString, int>& values, const QString& done)
{
    const QStringList refused = panel->applyControls(values);
    if (refused.isEmpty())
        return { Status::Done, done, {}, {} };
    const QString list = refused.join(QStringLiteral(", "));
    qCDebug(lcPresets).noquote() << "Preset controls refused by the device:" << list;
    return { Status::DeviceFailed, tr("The interface refused %1, which kept their previous values.").arg(list), {}, refused };
}

// A refused step leaves the undo in place, to be tried again.
Outcome PresetBook::undoRecall()
{
    if (!canUndo())
        return badRequest(tr("There is no recall to undo."));
    ModelPanel* panel = livePanel();
    if (!panel)
        return { Status::DeviceFailed, tr("No interface is connected."), {}, {} };
    if (panel->modelName() != undoModel)
        return badRequest(tr("The recall to undo was made on a %1.").arg(undoModel));
    const Outcome outcome = apply(panel, undoState, tr("Undid the last recall."));
    if (outcome.status == Status::Done)
        undoState.clear();
    qCDebug(lcPresets) << "Preset recall undone";
    setRecalled(undoName, undoNameValues);
    return outcome;
}

Outcome PresetBook::rename(const QString& from, const QString& to)
{
    if (const QString problem = existingProblem(from); !problem.isEmpty())
        return badRequest(problem);
    if (const QString problem = nameProblem(to); !problem.isEmpty())
        return badRequest(problem);
    if (QFile::exists(pathOf(to)))
        return badRequest(tr("A preset named \"%1\" exists already.").arg(to));
    if (!QFile::rename(pathOf(from), pathOf(to)))
        return badRequest(tr("The preset \"%1\" could not be renamed.").arg(from));
    if (undoName == from)
        undoName = to;
    if (recalled == from)
        recalled = to;
    emit changed();
    return { Status::Done, tr("Renamed the preset \"%1\" to \"%2\".").arg(from, to), {}, {} };
}

Outcome PresetBook::remove(const QString& name)
{
    if (const QString problem = existingProblem(name); !problem.isEmpty())
        return badRequest(problem);
    if (!QFile::remove(pathOf(name)))
        return badRequest(tr("The preset \"%1\" could not be deleted.").arg(name));
    if (recalled == name)
        setRecalled({}, {});
    else
        emit changed();
    return { Status::Done, tr("Deleted the preset \"%1\".").arg(name), {}, {} };
}

void PresetBook::setRecalled(const QString& name, const QMap<QString, int>& values)
{
    recalled = name;
    recalledValues = values;
    isModified = differs();
    emit changed();
}

// A new panel (a connect, a loss) is watched for the mark.
void PresetBook::panelChanged()
{
    ModelPanel* panel = session->panel();
    if (panel == watched)
        return;
    if (watched)
        disconnect(watched, nullptr, this, nullptr);
    watched = panel;
    if (panel)
        connect(panel, &ModelPanel::controlValueChanged, this, &PresetBook::controlMoved);
    controlMoved();
}

void PresetBook::controlMoved()
{
    if (differs() == isModified)
        return;
    isModified = !isModified;
    emit changed();
}

// Without a panel there is nothing to have moved.
bool PresetBook::differs() const
{
    if (recalled.isEmpty() || !watched)
        return false;
    const QMap<QString, int> live = watched->controlValues();
    for (auto it = recalledValues.cbegin(); it != recalledValues.cend(); ++it) {
        if (live.value(it.key(), it.value()) != it.value())
            return true;
    }
    return false;
}
