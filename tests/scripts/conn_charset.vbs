' Charset from VBScript, against the scenario server on 127.0.0.1. This
' engine has no ChrW: texts outside the ANSI code page are made and compared
' through URLEncode and URLDecode, which work on UTF-8 once Charset is set.
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

Dim env, base, conn, body, links, names
Set env = CreateObject("WScript.Shell").Environment("PROCESS")
base = "http://127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & "/"
Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20

' --- Charset "" is today's behaviour -------------------------------------
CheckEqual "default Charset", conn.Charset, ""
conn.URL = base & "s/charset-utf8.html"
body = conn.GetURL
CheckEqual "a UTF-8 page with Charset """": one character per byte", Len(body), 40
CheckEqual "ResponseCharset names the ANSI code page", Left(conn.ResponseCharset, 2) <> "", True

' --- auto ------------------------------------------------------------------
conn.Charset = "auto"
body = conn.GetURL
CheckEqual "a UTF-8 page as text", conn.URLEncode(body), _
  "%3Cp%3ECaf%C3%A9+%CE%A9%CE%BC%CE%AD%CE%B3%CE%B1+%E6%97%A5%E6%9C%AC%E8%AA%9E+%F0%9F%98%80%3C%2Fp%3E%0D%0A"
CheckEqual "the emoji is one surrogate pair", Len(body), 26
CheckEqual "ResponseCharset of a UTF-8 page", conn.ResponseCharset, "utf-8"
conn.URL = base & "s/charset-windows-1251"
CheckEqual "a windows-1251 page", conn.URLEncode(conn.GetURL), "%D0%9F%D1%80%D0%B8%D0%B2%D0%B5%D1%82"
CheckEqual "ResponseCharset of a windows-1251 page", conn.ResponseCharset, "windows-1251"
conn.URL = base & "s/charset-json"
CheckEqual "JSON without a charset is UTF-8", conn.URLEncode(conn.GetURL), "%7B%22name%22%3A%22Zo%C3%AB%22%7D%0D%0A"
conn.URL = base & "s/charset-utf-16le-bom"
CheckEqual "UTF-16LE with its mark", conn.URLEncode(conn.GetURL), "A%C3%A9%E2%82%AC%F0%9F%98%80"
CheckEqual "ResponseCharset of UTF-16LE", conn.ResponseCharset, "utf-16le"

' --- links ---------------------------------------------------------------------
conn.URL = base & "s/charset-links.html"
conn.GetURL
links = conn.GetHREFs
names = conn.GetHREFNames
CheckEqual "a UTF-8 link target", conn.URLEncode(links(0)), "%2Fcaf%C3%A9%3Fq%3D%C3%BC"
CheckEqual "references give real characters", conn.URLEncode(names(0)), _
  "Caf%C3%A9%C3%A9%E2%82%AC%E2%82%AC%F0%9F%98%80"
CheckEqual "a Greek and Japanese link text", conn.URLEncode(names(1)), _
  "%CE%A9%CE%BC%CE%AD%CE%B3%CE%B1%26%E6%97%A5%E6%9C%AC"

' --- requests --------------------------------------------------------------------
conn.URL = base & "echo/" & conn.URLDecode("caf%C3%A9") & "?q=" & conn.URLDecode("%C3%BC")
body = conn.GetURL
CheckEqual "the URL goes out in UTF-8, percent-encoded", Left(body, 36), "GET /echo/caf%C3%A9?q=%C3%BC HTTP/1."
conn.RequestMethod = "POST"
conn.URL = base & "echo"
conn.PostData = conn.URLDecode("%C3%A9%E2%82%AC")
body = conn.GetURL
Check "PostData goes out in UTF-8", InStr(body, "Content-Length: 5" & vbCrLf) > 0, body
CheckEqual "the UTF-8 body", conn.URLEncode(Right(body, 2)), "%C3%A9%E2%82%AC"
conn.ContentType = "text/plain; charset=windows-1251"
conn.PostData = conn.URLDecode("%C3%A9")
CheckEqual "a character the charset lacks: no text", conn.GetURL, ""
CheckEqual "a character the charset lacks: the failure", conn.Error, _
  "PostData holds characters that windows-1251 cannot encode"
conn.RequestMethod = "GET"

' --- the codec and the labels ------------------------------------------------------
CheckEqual "URLEncode in UTF-8", conn.URLEncode(conn.URLDecode("%C3%A9%E2%82%AC")), "%C3%A9%E2%82%AC"
CheckEqual "URLDecode of an invalid sequence", conn.URLEncode(conn.URLDecode("%FFa")), "%EF%BF%BDa"
On Error Resume Next
conn.Charset = "x-nope"
CheckEqual "an unknown label is refused", Err.Description, "Unknown charset: x-nope"
Err.Clear
On Error GoTo 0
CheckEqual "the refused label leaves Charset", conn.Charset, "auto"
conn.Charset = "Shift_JIS"
CheckEqual "a label is kept as written", conn.Charset, "Shift_JIS"

Set conn = Nothing
WScript.Echo "DONE"
