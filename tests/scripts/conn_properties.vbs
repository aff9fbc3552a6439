' Kestrel.Conn's property store from VBScript: the values of a new object,
' every property read back after a write with its conversion, the two refused
' writes as COM errors, the extra request lines, and what the response members
' give before any request.
Option Explicit

Dim failures
failures = 0

Sub Check(name, condition, detail)
  If condition Then
    WScript.Echo "PASS " & name
  Else
    WScript.Echo "FAIL " & name & ": " & detail
    failures = failures + 1
  End If
End Sub

Sub CheckEqual(name, actual, expected)
  Check name, actual = expected, "got [" & actual & "], expected [" & expected & "]"
End Sub

' Error number, description and source of a refused write, and the value the
' property reads afterwards.
Dim errNumber, errDescription, errSource

Sub TryPut(conn, propertyName, value)
  On Error Resume Next
  Select Case propertyName
    Case "Proxy": conn.Proxy = value
    Case "URL": conn.URL = value
  End Select
  errNumber = Err.Number
  errDescription = Err.Description
  errSource = Err.Source
  Err.Clear
End Sub

Dim conn
Set conn = CreateObject("Kestrel.Conn")

' --- a new object -----------------------------------------------------------
CheckEqual "default Port", conn.Port, 80
CheckEqual "default TimeOut", conn.TimeOut, 60
CheckEqual "default FollowRedirects", conn.FollowRedirects, True
CheckEqual "default FollowRedirects is -1", CInt(conn.FollowRedirects), -1
CheckEqual "default RequestMethod", conn.RequestMethod, "GET"
CheckEqual "default Accept", conn.Accept, "*/*"
CheckEqual "default ContentType", conn.ContentType, "application/x-www-form-urlencoded"
CheckEqual "default Version", conn.Version, "3.50"
Check "default GetHREFNames is empty", IsEmpty(conn.GetHREFNames), "VarType " & VarType(conn.GetHREFNames)
CheckEqual "default Protocol", conn.Protocol, ""
CheckEqual "default URL", conn.URL, ""
CheckEqual "default FileName", conn.FileName, ""
CheckEqual "default Proxy", conn.Proxy, ""
CheckEqual "default PostData", conn.PostData, ""
CheckEqual "default Headers", conn.Headers, ""
CheckEqual "default UserAgent", conn.UserAgent, ""
CheckEqual "default ExtraHeaders", conn.ExtraHeaders, ""
CheckEqual "default SaveFileTo", conn.SaveFileTo, ""
' The members the default interface adds start at what changes nothing.
CheckEqual "default Charset", conn.Charset, ""
CheckEqual "default ResponseCharset", conn.ResponseCharset, ""
CheckEqual "default KeepAlive", conn.KeepAlive, False
CheckEqual "default Compression", conn.Compression, False
CheckEqual "default KeepCookies", conn.KeepCookies, False
CheckEqual "default Cookies", conn.Cookies, ""
CheckEqual "default Authorization", conn.Authorization, ""
CheckEqual "default HTTPLog", conn.HTTPLog, ""
CheckEqual "default Error", conn.Error, ""
CheckEqual "default ProxyPassword", conn.ProxyPassword, ""
CheckEqual "default Response", conn.Response, ""

' --- the response members before any request --------------------------------
CheckEqual "GetHeader before a request", conn.GetHeader("Content-Type"), ""
CheckEqual "GetHeader of the empty name before a request", conn.GetHeader(""), ""
' An empty byte array (vbArray + vbByte), not Null.
CheckEqual "BinaryData before a request", VarType(conn.BinaryData), 8209
Dim links
links = conn.GetHREFs
CheckEqual "GetHREFs before a request is an array", VarType(links), 8204
CheckEqual "GetHREFs before a request has no elements", UBound(links), -1
CheckEqual "GetHREFNames after it has no elements", UBound(conn.GetHREFNames), -1
CheckEqual "Error after them", conn.Error, ""

' --- writes read back --------------------------------------------------------
conn.Port = 8080
CheckEqual "Port", conn.Port, 8080
conn.Port = 65616
CheckEqual "Port keeps the low 16 bits", conn.Port, 80
conn.Port = -1
CheckEqual "Port -1 reads 65535", conn.Port, 65535
conn.Port = 0
CheckEqual "Port 0", conn.Port, 0

conn.TimeOut = 5
CheckEqual "TimeOut", conn.TimeOut, 5
conn.TimeOut = -3
CheckEqual "TimeOut is not range-checked", conn.TimeOut, -3

conn.FollowRedirects = False
CheckEqual "FollowRedirects false", CInt(conn.FollowRedirects), 0
conn.FollowRedirects = 2
CheckEqual "FollowRedirects any non-zero is true", CInt(conn.FollowRedirects), -1

conn.ContentType = "Text/XML; Charset=UTF-8"
CheckEqual "ContentType is lower-cased", conn.ContentType, "text/xml; charset=utf-8"
conn.ContentType = ""
CheckEqual "ContentType empty", conn.ContentType, ""

conn.RequestMethod = "post"
CheckEqual "RequestMethod as written until a request", conn.RequestMethod, "post"

conn.URL = "HTTP://EXAMPLE.COM/Dir/Page.HTML"
CheckEqual "URL in capitals", conn.URL, "HTTP://EXAMPLE.COM/Dir/Page.HTML"
CheckEqual "FileName from the URL", conn.FileName, "Page.HTML"
conn.URL = "http://127.0.0.1:8080/"
CheckEqual "URL with a port", conn.URL, "http://127.0.0.1:8080/"
CheckEqual "FileName of a folder URL", conn.FileName, ""

conn.Proxy = "localhost:3128"
CheckEqual "Proxy", conn.Proxy, "localhost:3128"
conn.Proxy = ""
CheckEqual "empty Proxy clears it", conn.Proxy, ""

conn.Protocol = "HTTP/1.1"
CheckEqual "Protocol", conn.Protocol, "HTTP/1.1"
conn.PostData = "a=1&b=" & Chr(233)
CheckEqual "PostData", conn.PostData, "a=1&b=" & Chr(233)
conn.PostData = "a" & Chr(0) & "b"
CheckEqual "PostData keeps a NUL", Len(conn.PostData), 3
conn.Accept = "text/html"
CheckEqual "Accept", conn.Accept, "text/html"
conn.UserAgent = "KestrelTest/1.0"
CheckEqual "UserAgent", conn.UserAgent, "KestrelTest/1.0"
conn.Authorization = "user:pass word"
CheckEqual "Authorization", conn.Authorization, "user:pass word"
conn.ProxyPassword = "proxy:secret"
CheckEqual "ProxyPassword", conn.ProxyPassword, "proxy:secret"
conn.HTTPLog = "C:\logs\kestrel.log"
CheckEqual "HTTPLog", conn.HTTPLog, "C:\logs\kestrel.log"
conn.SaveFileTo = "C:\out\page.html"
CheckEqual "SaveFileTo", conn.SaveFileTo, "C:\out\page.html"
conn.SaveFileTo = ""
CheckEqual "SaveFileTo cleared", conn.SaveFileTo, ""
conn.Port = "443"
CheckEqual "Port from a text", conn.Port, 443

' --- refused writes -----------------------------------------------------------
conn.Proxy = "proxy.local:8080"
TryPut conn, "Proxy", "proxy.local"
CheckEqual "Proxy without a port: number", Hex(errNumber), "8000FFFF"
CheckEqual "Proxy without a port: description", errDescription, "Proxy port is required"
CheckEqual "Proxy without a port: source", errSource, "Kestrel.Conn"
CheckEqual "Proxy without a port keeps the old value", conn.Proxy, "proxy.local:8080"
conn.Proxy = ""

conn.URL = "http://127.0.0.1/kept.html"
TryPut conn, "URL", "ftp://127.0.0.1/file.txt"
CheckEqual "other scheme: number", Hex(errNumber), "8000FFFF"
CheckEqual "other scheme: description", errDescription, "Invalid URL"
CheckEqual "other scheme: source", errSource, "Kestrel.Conn"
CheckEqual "other scheme keeps the old URL", conn.URL, "http://127.0.0.1/kept.html"
TryPut conn, "URL", "127.0.0.1/no-scheme.html"
CheckEqual "URL without a scheme", errDescription, "Invalid URL"
TryPut conn, "URL", ""
CheckEqual "empty URL", errDescription, "Invalid URL"
CheckEqual "refused URLs keep the file name", conn.FileName, "kept.html"

' --- extra request lines --------------------------------------------------
conn.AddExtraHeader ""
CheckEqual "an empty extra line is ignored", conn.ExtraHeaders, ""
conn.AddExtraHeader "X-Test: 1"
conn.AddExtraHeader "X-Test: 1"
CheckEqual "duplicates are kept, each line ended", conn.ExtraHeaders, "X-Test: 1" & vbCrLf & "X-Test: 1" & vbCrLf
conn.AddExtraHeader "  "
CheckEqual "a blank line is stored as given", conn.ExtraHeaders, "X-Test: 1" & vbCrLf & "X-Test: 1" & vbCrLf & "  " & vbCrLf
conn.ClearExtraHeaders
CheckEqual "ClearExtraHeaders", conn.ExtraHeaders, ""
conn.ClearExtraHeaders
CheckEqual "ClearExtraHeaders twice", conn.ExtraHeaders, ""

' Objects do not share their store.
Dim other
Set other = CreateObject("Kestrel.Conn")
CheckEqual "a second object has its own Port", other.Port, 80
CheckEqual "a second object has its own URL", other.URL, ""
Set other = Nothing
Set conn = Nothing

WScript.Echo "DONE"
