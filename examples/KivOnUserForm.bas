Attribute VB_Name = "KivOnUserForm"
' KIVDRAW on a UserForm, for 32-bit and 64-bit Office. On the form: the control KivCtl (Tools >
' Additional Controls..., tick KivCtl; it is invisible at run time) named KivCtl1, and an Image
' control named Image1. In the form's code:
'
'     Private Sub UserForm_Activate()
'         KivOnUserForm.ShowBadge Me.KivCtl1, Me.Image1
'     End Sub
'
' ShowBadge draws a badge on a surface, copies a corner of the screen into it with the control's
' Blit (the screen's device context comes from the Windows API, declared below for both kinds of
' Office), and shows the result in the Image control through the surface's Picture.
Option Explicit

#If VBA7 Then
    Private Declare PtrSafe Function GetDC Lib "user32" (ByVal hWnd As LongPtr) As LongPtr
    Private Declare PtrSafe Function ReleaseDC Lib "user32" (ByVal hWnd As LongPtr, ByVal hDC As LongPtr) As Long
#Else
    Private Declare Function GetDC Lib "user32" (ByVal hWnd As Long) As Long
    Private Declare Function ReleaseDC Lib "user32" (ByVal hWnd As Long, ByVal hDC As Long) As Long
#End If
Private Const SRCCOPY As Long = &HCC0020

' ---- begin: the part below runs as VBScript too, without its "As" clauses (the project's tests run it)
Public Function MakeBadge(kiv As Object) As Object
    Dim badge As Object
    Set badge = kiv.Bitmaps.Create("badge", 160, 48)
    badge.BackColor = RGB(30, 60, 110)
    badge.Cls
    badge.ForeColor = RGB(255, 255, 255)
    badge.DrawLine 0, 0, 159, 0                  ' no colour: ForeColor
    badge.DrawLine 159, 0, 159, 47
    badge.DrawLine 159, 47, 0, 47
    badge.DrawLine 0, 47, 0, 0
    badge.FontName = "Arial"
    badge.FontSize = 24                          ' pixels
    badge.FontBold = True
    badge.BPrint 64, 10, "KIV"
    Set MakeBadge = badge
End Function

' Run from the Immediate window: prints the badge's size and PASS.
Public Sub CheckBadge()
    Dim kiv As Object, badge As Object
    Set kiv = CreateObject("Kiv.KivCtl")
    Set badge = MakeBadge(kiv)
    Debug.Print "badge: " & badge.Width & " x " & badge.Height & " pixels, font " & badge.FontName & _
                " " & badge.FontSize
    If badge.Width = 160 And badge.Height = 48 And kiv.Bitmaps.ItemTxt("badge") Is badge Then Debug.Print "PASS"
End Sub
' ---- end of the shared part

Public Sub ShowBadge(kiv As Object, img As Object)
    Dim badge As Object
#If VBA7 Then
    Dim screenDC As LongPtr
#Else
    Dim screenDC As Long
#End If
    Set badge = MakeBadge(kiv)
    ' Device contexts travel as Long: a GDI handle fits in 32 bits in 64-bit Office too.
    screenDC = GetDC(0)
    kiv.Blit badge.hDC, 8, 8, 48, 32, CLng(screenDC), 0, 0, SRCCOPY
    ReleaseDC 0, screenDC
    Set img.Picture = badge.Picture              ' an independent copy of the badge's pixels
    kiv.Bitmaps.Clear                            ' the picture stays; the surface can go
End Sub
