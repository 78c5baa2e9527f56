// SPDX-License-Identifier: LGPL-2.1-or-later
// CMailquarryPropPage, the control's one property page ("General"). The
// module serves it by its class id; a container asks it for the page's widget.
#pragma once

#include "platform/com/unknown.h"

class QWidget;

namespace mq {

struct IMailquarryPropPage : IUnknown {
  static constexpr IID iid = com::Guid("{76BD3BA2-3FA9-4715-A2F1-CACA5131A222}");
  using Base = IUnknown;
  // The page as a child widget of `parent` (null without a GUI).
  virtual QWidget* CreatePage(QWidget* parent) = 0;
};

class CMailquarryPropPage : public com::Object<IMailquarryPropPage> {
 public:
  QWidget* CreatePage(QWidget* parent) override;
};

}  // namespace mq
