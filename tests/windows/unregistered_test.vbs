' After regsvr32 /u the class can no longer be created.
Option Explicit
Dim o, passed, failed
passed = 0
failed = 0
On Error Resume Next
Set o = CreateObject("Vantoro.Marquel")
If Err.Number = 429 Then
  passed = passed + 1
Else
  failed = failed + 1
  WScript.Echo "FAIL: CreateObject after unregistering gave " & Err.Number
End If
WScript.Echo passed & " passed, " & failed & " failed"
