#pragma once

#include <QObject>

// The link to the ASIO driver: its requests for the settings window, heard
// by a listener thread from construction on, and the reset notice.
class AsioLink : public QObject
{
    Q_OBJECT

public:
    explicit AsioLink(QObject* parent = nullptr);

    void sendResetNotice();

signals:
    // On the owner's thread, once a request.
    void windowRequested();
};
