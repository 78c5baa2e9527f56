// SPDX-License-Identifier: LGPL-2.1-or-later
// CMailquarryCtrl, the control: it opens the store connection when its window
// is created, holds the folder, message and contact collections, selects the
// folder whose messages the message list shows (Folder), and lets all of it go
// when its window is destroyed. At run time it is invisible; in a design
// environment it paints a black box with a red caption.
#pragma once

#include <optional>
#include <string>

#include "control/contacts/contacts.h"
#include "control/folders.h"
#include "control/messages.h"
#include "control/store_context.h"
#include "platform/ui/control.h"

namespace mq {

inline constexpr const char* kDesignCaption = "Mailquarry ActiveX Control";

class CMailquarryCtrl : public ui::Control<CMailquarryCtrl> {
 public:
  CMailquarryCtrl();
  ~CMailquarryCtrl() override;

  // _DMailquarry
  com::ComPtr<IDispatch> GetFolders();
  SHORT GetFolder();
  void SetFolder(SHORT index);
  com::ComPtr<IDispatch> GetMessages();
  com::ComPtr<IDispatch> GetContacts();
  void AboutBox();

  static const com::Bindings<CMailquarryCtrl>& GetBindings();

  // Type information comes only from the registered library.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;

  // For tests inside the module: the context the collections share.
  const StoreContext& Context() const { return context_; }

  // How window creation makes its store connection: CoCreateInstance of
  // CLSID_StoreNamespace unless a test puts a maker of its own in place
  // (null restores that).
  using StoreMaker = HRESULT (*)(IStoreNamespace** out);
  static void SetStoreMakerForTesting(StoreMaker maker);

 protected:
  bool OnCreate() override;
  void OnDestroy() override;
  void OnDraw(ui::Painter& painter, const ui::Rect& bounds) override;
  void DoPropExchange(ui::PropExchange& px) override;
  std::vector<CLSID> GetPropertyPageIds() override;
  QWidget* CreatePropertyPage(const CLSID& clsid, QWidget* parent) override;
  std::string UserTypeName() const override;

 private:
  void MakeCollections();
  // Lets go of every store object and collection (window destruction, and
  // the control's own end if its window never went).
  void Teardown();
  // Address-book open: a new connection (after closing the old one unless
  // this is the first open) that fills the contact collection.
  void OpenAddressBook(bool first);
  void CloseAddressBook();

  std::optional<std::string> addressBookPath_;
  com::ComPtr<CFolders> folders_;
  com::ComPtr<CMessages> messages_;
  com::ComPtr<CContacts> contacts_;
  StoreContext context_;
};

}  // namespace mq
