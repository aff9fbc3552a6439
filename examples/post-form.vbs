' Sends form fields with POST, the way a browser submits an HTML form, and
' prints the answer.
' Usage: cscript //nologo post-form.vbs [URL]
Option Explicit

Dim url, conn, form, body
url = "http://www.example.com/"
If WScript.Arguments.Count > 0 Then url = WScript.Arguments(0)

Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20

On Error Resume Next
conn.URL = url
If Err.Number <> 0 Then
  WScript.Echo "Bad URL: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

' Each value is URL-encoded: a blank becomes "+", "&" becomes "%26".
form = "name=" & conn.URLEncode("Tom & Jerry") & _
       "&comment=" & conn.URLEncode("100% fun?")
conn.RequestMethod = "POST"
conn.PostData = form
' ContentType already defaults to application/x-www-form-urlencoded.

body = conn.GetURL()
If body = "" And conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  WScript.Quit 1
End If

WScript.Echo "Sent:   " & form
WScript.Echo "Status: " & conn.Response
WScript.Echo ""
WScript.Echo body
