' Downloads a file byte for byte with SaveFileTo, without holding it as text.
' Usage: cscript //nologo download-file.vbs [URL] [FILE]
' Without FILE the download is named after the URL's last part and saved in
' the current folder.
Option Explicit

Dim url, target, conn, fso
url = "http://www.example.com/index.html"
If WScript.Arguments.Count > 0 Then url = WScript.Arguments(0)

Set conn = CreateObject("Kestrel.Conn")
Set fso = CreateObject("Scripting.FileSystemObject")
conn.TimeOut = 60                  ' a slow server may pause between parts

On Error Resume Next
conn.URL = url
If Err.Number <> 0 Then
  WScript.Echo "Bad URL: " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

If WScript.Arguments.Count > 1 Then
  target = WScript.Arguments(1)
Else
  ' FileName is the URL's last part (index.html for a folder name with a dot).
  target = conn.FileName
  If target = "" Then target = "download.bin"
End If
target = fso.GetAbsolutePathName(target)

' SaveFileTo applies to the next successful GetURL only: set it each time.
conn.SaveFileTo = target
conn.GetURL
If conn.Error <> "" Then
  WScript.Echo "Failed: " & conn.Error
  WScript.Quit 1
End If

WScript.Echo "Status: " & conn.Response
' The file holds what the server sent, an error page too: only a 2xx status
' brings the file asked for.
If Mid(conn.Response, InStr(conn.Response, " ") + 1, 1) <> "2" Then
  If fso.FileExists(target) Then fso.DeleteFile target
  WScript.Echo "Not saved: the server answered " & conn.Response
  WScript.Quit 1
End If
WScript.Echo "Saved " & fso.GetFile(target).Size & " bytes to " & target
