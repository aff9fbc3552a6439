' Logs in through a web form, the way a browser does: the form is POSTed, the
' server answers with a session cookie and a redirect, and the pages after it
' need that cookie. KeepCookies makes the object keep and send cookies.
' Usage: cscript //nologo login-form.vbs LOGIN-URL USER PASSWORD [PAGE-URL [COOKIE-FILE]]
' With COOKIE-FILE the cookies are saved there, to log in again without the form.
Option Explicit

Dim conn, body, fso, file, lines, i, fields, domain
If WScript.Arguments.Count < 3 Then
  WScript.Echo "Usage: cscript //nologo login-form.vbs LOGIN-URL USER PASSWORD [PAGE-URL [COOKIE-FILE]]"
  WScript.Quit 2
End If

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20
conn.KeepCookies = True

On Error Resume Next
conn.URL = WScript.Arguments(0)
If Err.Number <> 0 Then
  WScript.Echo "Bad URL: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

' The form's fields, as the login page names them.
conn.RequestMethod = "POST"
conn.PostData = "user=" & conn.URLEncode(WScript.Arguments(1)) & _
                "&password=" & conn.URLEncode(WScript.Arguments(2))
' The redirect is followed with the cookie it set; the page it leads to is
' the answer.
body = conn.GetURL()
If body = "" And conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  WScript.Quit 1
End If
WScript.Echo "Login:  " & conn.Response

' Later requests of the same object send the cookies that match them.
If WScript.Arguments.Count > 3 Then
  conn.URL = WScript.Arguments(3)
  body = conn.GetURL()
  If body = "" And conn.Error <> "" Then
    WScript.Echo "Failed: " & conn.Error
    WScript.Quit 1
  End If
  WScript.Echo "Page:   " & conn.Response
End If

' The cookies kept, one a line: domain, flag, path, secure, expiry, name,
' value; "#HttpOnly_" before the domain marks a cookie kept from scripts in
' a browser.
WScript.Echo "Cookies kept:"
lines = Split(conn.Cookies, vbCrLf)
For i = 0 To UBound(lines)
  fields = Split(lines(i), vbTab)
  If UBound(fields) = 6 Then
    domain = fields(0)
    If Left(domain, 10) = "#HttpOnly_" Then domain = Mid(domain, 11)
    WScript.Echo "  " & fields(5) & " for " & domain & fields(2)
  End If
Next

' Saved, the text restores the login in another script: conn.Cookies = text.
If WScript.Arguments.Count > 4 Then
  Set fso = CreateObject("Scripting.FileSystemObject")
  Set file = fso.CreateTextFile(WScript.Arguments(4), True)
  file.Write conn.Cookies
  file.Close
  WScript.Echo "Saved to " & WScript.Arguments(4)
End If

If InStr(conn.Response, " 200 ") = 0 Then
  WScript.Echo "Not logged in: the server answered " & conn.Response
  WScript.Quit 1
End If
WScript.Echo ""
WScript.Echo body
