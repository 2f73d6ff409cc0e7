#include "settings/AsioLink.h"

#include "settings/PipeASIO.h"
#include "settings/ThreadSettingsPip.h"

AsioLink::AsioLink(QObject* parent)
    : QObject(parent)
{
    // Its child: the listener stops when the link goes.
    auto* listener = new ThreadSettingsPip(this);
    connect(listener, &ThreadSettingsPip::progressUpdated, this, &AsioLink::windowRequested);
    listener->start(QThread::InheritPriority);
}

void AsioLink::sendResetNotice()
{
    PipeASIO::sendResetNotice();
}
