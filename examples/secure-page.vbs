' Fetches a page over https and says plainly when the server's certificate is
' refused, and what to do about it.
' Usage: cscript //nologo secure-page.vbs [URL]
Option Explicit

Dim url, conn, body
url = "https://www.example.com/"
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

body = conn.GetURL()
If body = "" And conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  ' A refused certificate: nothing of the request was sent.
  If Left(conn.Error, 18) = "Certificate error:" Then
    If InStr(conn.Error, "not trusted") > 0 Then
      WScript.Echo "Hint: trust the issuing authority's root certificate in the computer's store,"
      WScript.Echo "      or ask the site to send its intermediate certificates."
    ElseIf InStr(conn.Error, "another name") > 0 Then
      WScript.Echo "Hint: use the host name the certificate was issued for, not an IP address or alias."
    Else
      WScript.Echo "Hint: check this machine's date and time."
    End If
  End If
  WScript.Quit 1
End If

WScript.Echo "Status: " & conn.Response
WScript.Echo "Type:   " & conn.GetHeader("Content-Type:")
WScript.Echo "Size:   " & Len(body) & " characters"
