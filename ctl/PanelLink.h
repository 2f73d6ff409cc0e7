#pragma once

#include <QJsonObject>
#include <QLocalSocket>
#include <QString>

#include <optional>

// kestrumctl's connection to the running panel: one request, its reply, and
// for a watch the events after it. Every wait has a limit but the watch's.
class PanelLink
{
public:
    // Connects within kConnectMs; false, with why, when no panel answers.
    bool open(QString& error);
    // The reply, or none (with why) when the panel went or stayed silent.
    std::optional<QJsonObject> ask(const QJsonObject& request, QString& error);
    // The next event; none when the panel went.
    std::optional<QJsonObject> nextEvent();

private:
    std::optional<QJsonObject> nextLine(int waitMs);

    QLocalSocket socket;
};
