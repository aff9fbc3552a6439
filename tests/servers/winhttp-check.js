// The platform's own HTTP object against the TLS test servers, for
// check-servers.sh. Arguments: NAME|URL[|PROXY] ... For each: "BEGIN NAME",
// then "RESULT NAME STATUS <code> LENGTH <characters>" or "RESULT NAME ERROR
// <code>"; "DONE" at the end. Every request is bounded by its time-outs.
for (var i = 0; i < WScript.Arguments.length; i++) {
  var item = WScript.Arguments(i).split("|");
  WScript.Echo("BEGIN " + item[0]);
  try {
    var request = new ActiveXObject("WinHttp.WinHttpRequest.5.1");
    request.SetTimeouts(5000, 5000, 5000, 20000);
    if (item.length > 2) request.SetProxy(2, item[2]);
    request.Open("GET", item[1], false);
    request.Send();
    WScript.Echo("RESULT " + item[0] + " STATUS " + request.Status + " LENGTH " + request.ResponseText.length);
  } catch (e) {
    WScript.Echo("RESULT " + item[0] + " ERROR " + (e.number & 0xFFFF));
  }
}
WScript.Echo("DONE");
