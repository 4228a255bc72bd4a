#include "IMenuCallWidget.h"

IMenuCallWidget::~IMenuCallWidget() = default;
