' Fetches a page that needs a login (HTTP basic authentication) and tells
' whether the server accepted it.
' Usage: cscript //nologo login.vbs URL USER:PASSWORD
Option Explicit

Dim conn, body
If WScript.Arguments.Count < 2 Then
  WScript.Echo "Usage: cscript //nologo login.vbs URL USER:PASSWORD"
  WScript.Quit 2
End If

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20

On Error Resume Next
conn.URL = WScript.Arguments(0)
If Err.Number <> 0 Then
  WScript.Echo "Bad URL: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

' User name, colon, password (the password may hold colons too). Sent with
' every request as "Authorization: Basic ...".
conn.Authorization = WScript.Arguments(1)

body = conn.GetURL()
If body = "" And conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  WScript.Quit 1
End If

' A refused login is an answer, not a failure: the status line tells.
WScript.Echo "Status: " & conn.Response
If InStr(conn.Response, " 401 ") > 0 Then
  WScript.Echo "Login refused; the server asks for: " & conn.GetHeader("WWW-Authenticate:")
  WScript.Quit 1
End If
WScript.Echo ""
WScript.Echo body
