#pragma once

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class DeviceSession;
class ModelPanel;

// The saved presets of the attached interface's controls, one ini file
// each in the "presets" folder beside the models' state files, and the
// recall of one onto the connected panel by a hand's path, with the state
// before the last recall kept for an undo.
class PresetBook : public QObject
{
    Q_OBJECT

public:
    explicit PresetBook(DeviceSession* session, QObject* parent = nullptr);

    enum class Status {
        Done,
        // A bad name, no such preset, a damaged file, nothing to undo.
        BadRequest,
        // No panel connected, or the device refused a call.
        DeviceFailed,
    };
    struct Outcome {
        Status status;
        QString message;
        // Controls of the preset this model lacks.
        QStringList skipped;
        // Controls the device refused, which kept their previous value.
        QStringList refused;
    };

    static QString folder();
    // Empty when the name can be a preset's, else why not.
    static QString nameProblem(const QString& name);

    QStringList names() const;
    Outcome save(const QString& name);
    Outcome recall(const QString& name);
    Outcome rename(const QString& from, const QString& to);
    Outcome remove(const QString& name);
    Outcome undoRecall();
    bool canUndo() const { return !undoState.isEmpty(); }
    // The preset recalled or saved last, empty when none, and whether the
    // live state has moved away from it since.
    QString lastRecalled() const { return recalled; }
    bool modified() const { return isModified; }

signals:
    // The list, the last recalled name, its mark or the undo changed.
    void changed();

private:
    static QString pathOf(const QString& name);
    // A name that must be a preset's: empty when it is, else why not.
    static QString existingProblem(const QString& name);
    // The connected panel; null when there is none.
    ModelPanel* livePanel() const;
    Outcome apply(ModelPanel* panel, const QMap<QString, int>& values, const QString& done);
    void panelChanged();
    void controlMoved();
    bool differs() const;
    void setRecalled(const QString& name, const QMap<QString, int>& values);

    DeviceSession* session;
    QPointer<ModelPanel> watched;
    QString recalled;
    QMap<QString, int> recalledValues;
    bool isModified = false;
    // The state before the last recall, its model and the name recalled then.
    QMap<QString, int> undoState;
    QString undoModel;
    QString undoName;
    QMap<QString, int> undoNameValues;
};
