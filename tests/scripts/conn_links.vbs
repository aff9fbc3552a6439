' The links of a fetched page from VBScript: GetHREFs gives the targets and
' GetHREFNames the texts, pairwise, for pages of the scenario server and nginx.
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

' The elements of an array of texts as one line, "|" between them
' (VBScript's own Join is missing under Wine).
Function Joined(items)
  Dim i, text
  text = ""
  For i = 0 To UBound(items)
    If i > 0 Then text = text & "|"
    text = text & items(i)
  Next
  Joined = text
End Function

Sub CheckArray(name, items, expectedCount, expectedText)
  CheckEqual name & ": type", VarType(items), 8204
  If VarType(items) <> 8204 Then Exit Sub
  CheckEqual name & ": lower bound", LBound(items), 0
  CheckEqual name & ": upper bound", UBound(items), expectedCount - 1
  CheckEqual name & ": elements", Joined(items), expectedText
End Sub

Dim env, scenarioBase, nginxBase
Set env = CreateObject("WScript.Shell").Environment("PROCESS")
scenarioBase = "http://127.0.0.1:" & env("KESTREL_SCENARIO_PORT") & "/"
nginxBase = "http://127.0.0.1:" & env("KESTREL_NGINX_PORT") & "/"

Const PageTargets = "x.html|y.html|'single.html'|q?a=1&amp;b=2|nbsp|bold|img|1|x.html|last"
Const PageTexts = "Home|Upper case|Single|Tom&Jerry|Hello World|HelloWorld|Not Available|onetwo|Home|Last"

Dim conn, targets, texts
Set conn = CreateObject("Kestrel.Conn")
conn.TimeOut = 20

' Before any request: no links, and no texts kept until the first call.
Check "no texts before any call", IsEmpty(conn.GetHREFNames), "VarType " & VarType(conn.GetHREFNames)
CheckArray "targets before any request", conn.GetHREFs, 0, ""
CheckArray "texts before any request", conn.GetHREFNames, 0, ""

' The page of anchor forms.
conn.URL = scenarioBase & "s/conn-links.html"
conn.GetURL
targets = conn.GetHREFs
CheckArray "targets", targets, 10, PageTargets
CheckArray "texts", conn.GetHREFNames, 10, PageTexts
CheckEqual "no error", conn.Error, ""

' Twice on the same response gives the same arrays.
CheckArray "targets again", conn.GetHREFs, 10, PageTargets
CheckArray "texts again", conn.GetHREFNames, 10, PageTexts

' The script's arrays are its own.
texts = conn.GetHREFNames
texts(0) = "changed"
targets(0) = "changed"
texts = conn.GetHREFNames
CheckEqual "texts kept by the object are unchanged", texts(0), "Home"
targets = conn.GetHREFs
CheckEqual "a new call gives fresh targets", targets(0), "x.html"

' A later request does not touch the kept texts; the next call replaces them.
conn.URL = scenarioBase & "s/hello"
conn.GetURL
CheckArray "texts after a later request", conn.GetHREFNames, 10, PageTexts
CheckArray "targets of a page without anchors", conn.GetHREFs, 0, ""
CheckArray "texts of a page without anchors", conn.GetHREFNames, 0, ""

' An empty body.
conn.URL = scenarioBase & "s/conn-empty-body"
conn.GetURL
CheckArray "targets of an empty body", conn.GetHREFs, 0, ""

' A failed request keeps the earlier body; GetHREFs clears Error.
conn.URL = scenarioBase & "s/conn-links.html"
conn.GetURL
conn.URL = "http://127.0.0.1:1/"
conn.GetURL
Check "the failure is in Error", conn.Error <> "", "Error is empty"
CheckArray "targets after a failed request", conn.GetHREFs, 10, PageTargets
CheckEqual "GetHREFs clears Error", conn.Error, ""

' A page from nginx with more links than an array holds at first.
Dim site, i, expectedTargets, expectedTexts
Set site = CreateObject("Kestrel.Conn")
site.URL = nginxBase & "conn-many-links.html"
site.GetURL
expectedTargets = ""
expectedTexts = ""
For i = 1 To 25
  If i > 1 Then
    expectedTargets = expectedTargets & "|"
    expectedTexts = expectedTexts & "|"
  End If
  expectedTargets = expectedTargets & "page" & i & ".html"
  expectedTexts = expectedTexts & "Page " & i
Next
CheckArray "25 targets", site.GetHREFs, 25, expectedTargets
CheckArray "25 texts", site.GetHREFNames, 25, expectedTexts
Set site = Nothing

' A redirect ends on the page whose links are read.
Set site = CreateObject("Kestrel.Conn")
site.URL = scenarioBase & "s/conn-redirect"
site.GetURL
CheckArray "targets after a redirect", site.GetHREFs, 10, PageTargets
Set site = Nothing

Set conn = Nothing
WScript.Echo "DONE"
