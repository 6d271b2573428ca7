// Not built: what the seam check must refuse if it ever appears under game/.
#include <QtWidgets/QLabel>
#  include "QtGui/QImage"
#include <runtime/FormHost.h>
#include <runtime/Form.h>
