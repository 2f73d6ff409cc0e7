#include "panels/PanelPlaceholder.h"

PanelPlaceholder::PanelPlaceholder(const QString& model)
    : QLabel(model)
{
    setAlignment(Qt::AlignCenter);
    setStyleSheet("font-size: 12px; color: white;");
}
