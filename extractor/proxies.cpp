// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/proxies.h"

#include "control/dispids.h"
#include "control/guids.h"

namespace mailsift {

namespace dispid = mq::dispid;

namespace {

std::string Text(const com::Variant& v) {
  return com::Utf8FromBstr(v.bstrVal);
}

}  // namespace

short CFoldersProxy::Count() const {
  return Call(dispid::folders::kCount, DISPATCH_PROPERTYGET, VT_I2).iVal;
}

std::string CFoldersProxy::FindFolderName(short index) const {
  com::Variant arg = com::Variant::I2(index);
  return Text(Call(dispid::folders::kFindFolderName, DISPATCH_METHOD, VT_BSTR, &arg, 1));
}

short CMessagesProxy::Count() const {
  return Call(dispid::messages::kCount, DISPATCH_PROPERTYGET, VT_I2).iVal;
}

std::string CMessagesProxy::FindReturnEmail(long index) const {
  com::Variant arg = com::Variant::I4(static_cast<LONG>(index));
  return Text(Call(dispid::messages::kFindReturnEmail, DISPATCH_METHOD, VT_BSTR, &arg, 1));
}

long CMessagesProxy::FindMessageID(long index) const {
  com::Variant arg = com::Variant::I4(static_cast<LONG>(index));
  return Call(dispid::messages::kFindMessageID, DISPATCH_METHOD, VT_I4, &arg, 1).lVal;
}

std::string CMessagesProxy::FindSubject(long index) const {
  com::Variant arg = com::Variant::I4(static_cast<LONG>(index));
  return Text(Call(dispid::messages::kFindSubject, DISPATCH_METHOD, VT_BSTR, &arg, 1));
}

long CMessagesProxy::FindSize(long index) const {
  com::Variant arg = com::Variant::I4(static_cast<LONG>(index));
  return Call(dispid::messages::kFindSize, DISPATCH_METHOD, VT_I4, &arg, 1).lVal;
}

short CMessagesProxy::GetAttachmentCount(long index) const {
  com::Variant arg = com::Variant::I4(static_cast<LONG>(index));
  return Call(dispid::messages::kGetAttachmentCount, DISPATCH_METHOD, VT_I2, &arg, 1).iVal;
}

bool CMessagesProxy::ExtractAttachment(long index, const std::string& outputDir) const {
  com::Variant args[2] = {com::Variant::I4(static_cast<LONG>(index)), com::Variant::Str(outputDir)};
  return Call(dispid::messages::kExtractAttachment, DISPATCH_METHOD, VT_BOOL, args, 2).boolVal != 0;
}

bool CMessagesProxy::Save2eml(long index, const std::string& emlFileName) const {
  com::Variant args[2] = {com::Variant::I4(static_cast<LONG>(index)),
                          com::Variant::Str(emlFileName)};
  return Call(dispid::messages::kSave2eml, DISPATCH_METHOD, VT_BOOL, args, 2).boolVal != 0;
}

long CContactsProxy::Count() const {
  return Call(dispid::contacts::kCount, DISPATCH_PROPERTYGET, VT_I4).lVal;
}

std::string CContactsProxy::FindEmail(long index) const {
  com::Variant arg = com::Variant::I4(static_cast<LONG>(index));
  return Text(Call(dispid::contacts::kFindEmail, DISPATCH_METHOD, VT_BSTR, &arg, 1));
}

HRESULT CMailquarry::Create(QWidget* parent, const ui::Rect& rect) {
  Close();
  HRESULT hr = host_.Create(mq::CLSID_Mailquarry);
  if (SUCCEEDED(hr)) hr = host_.Activate(parent, rect);
  if (FAILED(hr)) {
    host_.Close();
    return hr;
  }
  dispatch_ = host_.Dispatch();
  return dispatch_ ? S_OK : E_NOINTERFACE;
}

void CMailquarry::Close() {
  dispatch_.Reset();
  host_.Close();
}

void CMailquarry::Interpose(
    const std::function<com::ComPtr<IDispatch>(com::ComPtr<IDispatch>)>& wrap) {
  dispatch_ = wrap(dispatch_);
}

com::ComPtr<IDispatch> CMailquarry::GetCollection(DISPID dispid) const {
  com::Variant v =
      InvokeById(dispatch_.Get(), dispid, DISPATCH_PROPERTYGET, nullptr, 0, VT_DISPATCH);
  // The proxy takes over the reference the control handed out.
  IDispatch* collection = v.pdispVal;
  v.vt = VT_EMPTY;
  return com::ComPtr<IDispatch>::Attach(collection);
}

CFoldersProxy CMailquarry::Folders() const {
  return CFoldersProxy(GetCollection(dispid::control::kFolders));
}

void CMailquarry::SetFolder(int index) const {
  com::Variant arg = com::Variant::I2(static_cast<SHORT>(index));
  InvokeById(dispatch_.Get(), dispid::control::kFolder, DISPATCH_PROPERTYPUT, &arg, 1, VT_EMPTY);
}

CMessagesProxy CMailquarry::Messages() const {
  return CMessagesProxy(GetCollection(dispid::control::kMessages));
}

CContactsProxy CMailquarry::Contacts() const {
  return CContactsProxy(GetCollection(dispid::control::kContacts));
}

}  // namespace mailsift
