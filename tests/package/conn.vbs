' Creates Kestrel.Conn in the script host that runs this (32- or 64-bit) and
' fetches the URL given; prints one line, "created: ..." with the answer or
' "not created: ..." with the error number.
On Error Resume Next
Dim conn, body
Set conn = CreateObject("Kestrel.Conn")
If Err.Number <> 0 Then
  WScript.Echo "not created: " & Hex(Err.Number)
Else
  conn.TimeOut = 20
  conn.URL = WScript.Arguments(0)
  body = conn.GetURL()
  WScript.Echo "created: " & conn.Response & ", " & Len(body) & " characters" & conn.Error
End If
