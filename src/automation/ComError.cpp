#include "ComError.h"

#include <oleauto.h>

#include <exception>
#include <new>

#include "ComPtr.h"
#include "TextBoundary.h"

HRESULT ReportComError(const TErrorOrigin& origin, const std::string& message, HRESULT code)
{
  TComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Receive()))) return code;
  std::wstring description;
  try {
    description = AnsiToWide(message);
  } catch (const std::bad_alloc&) {
    // The code still tells what happened; the text is lost.
  }
  create->SetGUID(origin.Interface);
  create->SetSource(const_cast<LPOLESTR>(origin.Source.c_str()));
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  create->SetHelpContext(0);
  TComPtr<IErrorInfo> info;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.ReceiveVoid())))
    SetErrorInfo(0, info.Get());
  return code;
}

HRESULT ReportCurrentException(const TErrorOrigin& origin)
{
  try {
    throw;
  } catch (const EOleSysError& e) {
    return ReportComError(origin, e.Message(), e.ErrorCode() < 0 ? e.ErrorCode() : E_UNEXPECTED);
  } catch (const std::bad_alloc&) {
    return ReportComError(origin, DescribeCurrentException(), E_OUTOFMEMORY);
  } catch (...) {
    return ReportComError(origin, DescribeCurrentException());
  }
}

std::string DescribeCurrentException()
{
  try {
    throw;
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::bad_alloc&) {
    return "Out of memory";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unexpected failure";
  }
}
