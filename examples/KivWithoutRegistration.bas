Attribute VB_Name = "KivWithoutRegistration"
' KIVDRAW without registration, for VBA on Windows (32-bit and 64-bit Office alike): no regsvr32 and
' no administrator. Ship the module and its manifest in a folder beside the workbook:
'
'     Report.xlsm
'     KIVDRAW\x86\KIVDRAW.OCX and KIVDRAW\x86\KIVDRAW.manifest   (used by 32-bit Office)
'     KIVDRAW\x64\KIVDRAW.OCX and KIVDRAW\x64\KIVDRAW.manifest   (used by 64-bit Office)
'
' Windows' Microsoft.Windows.ActCtx object reads the manifest and makes the control from it. That
' object is part of Windows; Wine has none, so the project's tests run only the drawing part below.
' A control made this way is for code: a control placed on a UserForm needs registration.
Option Explicit

' The control, made from the manifest of Office's own architecture. In Word use ThisDocument.Path,
' in Access CurrentProject.Path.
Public Function NewKivCtl() As Object
    Dim actCtx As Object, folder As String
    #If Win64 Then
        folder = ThisWorkbook.Path & "\KIVDRAW\x64\"
    #Else
        folder = ThisWorkbook.Path & "\KIVDRAW\x86\"
    #End If
    Set actCtx = CreateObject("Microsoft.Windows.ActCtx")
    actCtx.Manifest = folder & "KIVDRAW.manifest"
    Set NewKivCtl = actCtx.CreateObject("Kiv.KivCtl")
End Function

' ---- begin: the part below runs as VBScript too, without its "As" clauses (the project's tests run it)
' A tile drawn on one of the control's surfaces, the same whichever way the control was made.
Public Function DrawTile(ctl As Object) As Object
    Dim tile As Object
    Set tile = ctl.Bitmaps.Create("tile", 64, 64)
    tile.BackColor = RGB(255, 255, 255)
    tile.Cls
    tile.DrawBox 8, 8, 48, 48, RGB(0, 160, 0)
    tile.DrawLine 0, 63, 64, -1, RGB(200, 0, 0)
    Set DrawTile = tile
End Function

' Prints what it drew and PASS, with a control however made: CheckTile NewKivCtl() from the
' Immediate window.
Public Sub CheckTile(ctl As Object)
    Dim tile As Object, pic As Object
    Set tile = DrawTile(ctl)
    Set pic = tile.Picture
    Debug.Print "tile: " & tile.Width & " x " & tile.Height & " pixels; picture type " & pic.Type
    If tile.Width = 64 And tile.Height = 64 And pic.Type = 1 And ctl.Bitmaps.Count = 1 Then Debug.Print "PASS"
End Sub
' ---- end of the shared part

' The tile as a bitmap file, from a control that nothing registered.
Public Sub KivTileWithoutRegistration()
    Dim tile As Object, path As String
    Set tile = DrawTile(NewKivCtl())
    path = Environ$("TEMP") & "\kiv-tile.bmp"
    SavePicture tile.Picture, path
    MsgBox "The picture is in " & path
End Sub
