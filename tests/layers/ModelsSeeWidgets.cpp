// Qt Widgets belong to the window modules alone.
#include <QWidget>
