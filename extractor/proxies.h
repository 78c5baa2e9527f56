// SPDX-License-Identifier: LGPL-2.1-or-later
// The client side of the control: CMailquarry hosts the control (created by
// its class id; the program never links it) and reads its properties, and one
// proxy per collection makes calls on the collection it is handed. Every call
// goes through IDispatch::Invoke by DISPID with the argument types of the
// control's type library; a failed call throws AutomationError.
//
// A collection proxy owns the one reference it was handed and releases it when
// it goes, so the pattern "read the collection, make one call, let it go" is
// one expression:  mq.Messages().FindSubject(i).
#pragma once

#include <functional>
#include <string>

#include "extractor/automation_call.h"
#include "platform/ui/control_host.h"

class QWidget;

namespace mailsift {

// Holds one collection reference and releases it exactly once.
class CCollectionProxy {
 public:
  explicit CCollectionProxy(com::ComPtr<IDispatch> taken) : dispatch_(std::move(taken)) {}
  CCollectionProxy(CCollectionProxy&&) = default;
  CCollectionProxy& operator=(CCollectionProxy&&) = default;
  void Release() { dispatch_.Reset(); }

 protected:
  com::Variant Call(DISPID dispid, WORD flags, VARTYPE resultType, VARIANT* args = nullptr,
                    UINT count = 0) const {
    return InvokeById(dispatch_.Get(), dispid, flags, args, count, resultType);
  }

 private:
  com::ComPtr<IDispatch> dispatch_;
};

class CFoldersProxy : public CCollectionProxy {
 public:
  using CCollectionProxy::CCollectionProxy;
  short Count() const;
  std::string FindFolderName(short index) const;
};

class CMessagesProxy : public CCollectionProxy {
 public:
  using CCollectionProxy::CCollectionProxy;
  short Count() const;
  std::string FindReturnEmail(long index) const;
  long FindMessageID(long index) const;
  std::string FindSubject(long index) const;
  long FindSize(long index) const;
  short GetAttachmentCount(long index) const;
  bool ExtractAttachment(long index, const std::string& outputDir) const;
  bool Save2eml(long index, const std::string& emlFileName) const;
};

class CContactsProxy : public CCollectionProxy {
 public:
  using CCollectionProxy::CCollectionProxy;
  long Count() const;
  std::string FindEmail(long index) const;
};

// The control site: creates the control and its window, and reads and writes
// the control's properties.
class CMailquarry {
 public:
  CMailquarry() = default;
  CMailquarry(const CMailquarry&) = delete;
  CMailquarry& operator=(const CMailquarry&) = delete;

  // Creates the control by its class id and its window in `parent` at `rect`
  // (pixels). The failure as an HRESULT; the control then stays absent.
  HRESULT Create(QWidget* parent, const ui::Rect& rect);
  bool HasControl() const { return static_cast<bool>(dispatch_); }
  // Destroys the control's window and lets the control go.
  void Close();

  CFoldersProxy Folders() const;
  void SetFolder(int index) const;  // cut to 16 bits, as the property is
  CMessagesProxy Messages() const;
  CContactsProxy Contacts() const;

  // For tests: puts an object of their own between the program and the
  // control (one that counts or fails calls), given the control's IDispatch.
  void Interpose(const std::function<com::ComPtr<IDispatch>(com::ComPtr<IDispatch>)>& wrap);

 private:
  com::ComPtr<IDispatch> GetCollection(DISPID dispid) const;

  ui::ControlHost host_{/*userMode=*/true};
  com::ComPtr<IDispatch> dispatch_;
};

}  // namespace mailsift
