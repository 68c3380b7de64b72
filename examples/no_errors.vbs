' What a script needs no error handling for: the drawing, copying and listing members never raise
' an error. A call that cannot draw leaves no mark, and a look-up that finds nothing gives Nothing.
' (Only a registry whose buffer palette cannot be made reports error -1, "Unable to create buffer
' palette", and even then Create just gives Nothing.)
Option Explicit
Dim failures : failures = 0
Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub
Sub CheckNoError(what)
    If Err.Number <> 0 Then
        WScript.Echo "FAIL: " & what & " raised " & Err.Number & " " & Err.Description
        failures = failures + 1
        Err.Clear
    End If
End Sub

Dim ctl, bitmaps, s
Set ctl = CreateObject("Kiv.KivCtl")
Set bitmaps = ctl.Bitmaps
Set s = bitmaps.Create("s", 20, 20)

On Error Resume Next
s.DrawCircle 32760, 10, 10                     ' its box would pass 32767: nothing is drawn
CheckNoError "DrawCircle at the edge of the coordinate range"
s.DrawBox -50, -50, 10, 10, RGB(255, 0, 0)     ' entirely outside the surface
CheckNoError "DrawBox outside the surface"
s.DrawLine -1000, -1000, 1000, 1000
CheckNoError "DrawLine across and beyond the surface"
s.Copy 0, 0, 0, True                           ' TargetDC 0: nothing happens
CheckNoError "Copy onto device context 0"
ctl.Blit 0, 0, 0, 10, 10, 0, 0, 0, &HCC0020    ' Blit checks nothing and reports nothing
CheckNoError "Blit between invalid device contexts"
s.FontName = "No Such Font"
s.BPrint 2, 2, "text"                          ' the platform substitutes a font
CheckNoError "BPrint with an unknown font"
bitmaps.RemoveInt 0
bitmaps.RemoveInt 99
CheckNoError "RemoveInt outside the list"
Check bitmaps.ItemTxt("nothing here") Is Nothing, "ItemTxt of an unknown name"
CheckNoError "ItemTxt of an unknown name"
On Error GoTo 0

Check bitmaps.Count = 1, "the surface is still listed"
If failures = 0 Then WScript.Echo "PASS"
