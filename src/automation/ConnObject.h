// The COM object behind Kestrel.Conn: reference counting and aggregation,
// ISupportErrorInfo, IProvideClassInfo, IDispatch from the type library, and
// IConn, whose members convert their arguments and hand them to TConn.
#pragma once

#include <windows.h>
#include <unknwn.h>

class TConnFactory;

// Makes a new object and returns its interface riid in *ppv; the object is
// destroyed again when riid is refused. Construction failures give
// E_OUTOFMEMORY for memory and E_UNEXPECTED for anything else. outer, when
// given, controls the object (riid is IUnknown).
HRESULT CreateConnObject(TConnFactory& factory, IUnknown* outer, REFIID riid, void** ppv);
