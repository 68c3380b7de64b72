' Prints "made" when the control can be made by its ProgID and draws, "error <number>" when not.
Option Explicit
On Error Resume Next
Dim ctl, surface
Set ctl = CreateObject("Kiv.KivCtl")
If Err.Number = 0 Then Set surface = ctl.Bitmaps.Create("probe", 4, 4)
If Err.Number <> 0 Then
    WScript.Echo "error " & Err.Number
ElseIf surface Is Nothing Then
    WScript.Echo "error: no surface"
Else
    WScript.Echo "made"
End If
