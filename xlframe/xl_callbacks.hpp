// The host's callback entry points, process-wide, and the one generation-aware way to call them.
// XlfExcel installs Excel4/Excel4v from XLCALL32.DLL when it initialises; MdCallBack12 is looked
// up in the main executable on first use. Tests install fakes of their own.
#pragma once

#include "xlframe/xl_oper.hpp"
#include "xlframe/xlcall.hpp"

namespace xlframe::callbacks {

void setExcel4(EXCEL4PROC excel4);
void setExcel4v(EXCEL4VPROC excel4v);
// Replaces the looked-up MdCallBack12 (null: look it up again on the next call).
void setMdCallBack12(MDCALLBACK12PROC mdCallBack12);

// Status 32 (failed) when the callback is not there.
int excel4v(int xlfn, xloper* result, int count, xloper* operands[]);
int mdCallBack12(int xlfn, int count, xloper12* operands[], xloper12* result);

}  // namespace xlframe::callbacks

namespace xlframe {

// Calls the host with records of the process's generation (XlfOper::IsExcel12). More than 255
// operands: status 4 without calling. Afterwards the result (may be null) is marked with the
// host-owned bit when its type has the string, array or integer bit, or it is a reference whose
// area pointer is not null.
int CallHost(int xlfn, LPXLFOPER result, int count, const LPXLFOPER operands[]);

}  // namespace xlframe
